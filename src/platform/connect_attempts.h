// Overlapping connection attempts to a relay's addresses (RFC 8305): the
// schedule, shared by both platforms, over socket operations each platform
// supplies and a test can replace. Only the platform layer and its tests
// include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/shared.h"
#include "platform/socket.h"

namespace platform {

constexpr std::size_t kSocketAddressCapacity = 32;  // a sockaddr_in6 and then some
constexpr std::size_t kMaxAddresses = 64;           // tried of one name; more is never useful

/// One address of the relay, as the system's connect takes it.
struct SocketAddress {
  bool ipv6 = false;
  alignas(8) unsigned char bytes[kSocketAddressCapacity] = {};
  std::size_t length = 0;
  std::string text;  // "192.0.2.1", "2001:db8::25"
};

struct AddressList {
  std::vector<SocketAddress> entries;
};

/// The addresses in the order they are tried: duplicates dropped, at most
/// kMaxAddresses, and with interleave the two families taking turns from
/// the first address on, each in the resolver's order.
std::vector<SocketAddress> ArrangeAddresses(std::vector<SocketAddress> addresses, bool interleave);

/// Resets host and fills it with the relay's addresses, in the order they
/// are tried, and its canonical name: name as an address of either family,
/// else what getaddrinfo finds for it in the family asked for. Returns 0, or
/// getaddrinfo's status (noData when it found no IPv4 or IPv6 address).
int LookUpRelay(const char* name, IpFamily family, int noData, RelayHost& host);

/// The address with its port set (in network order), ready for connect.
SocketAddress WithPort(SocketAddress address, std::uint16_t port);

enum class StartStatus { kConnected, kInProgress, kFailed };

/// The socket operations of the attempts. An error is the system's number.
struct AttemptOps {
  /// Makes a non-blocking stream socket of the family; kNoSocket with the error.
  std::function<SocketHandle(bool ipv6, int& error)> open;
  /// Makes an existing socket non-blocking; false with the error.
  std::function<bool(SocketHandle socket, int& error)> prepare;
  /// Starts the connect to the address and port (in network byte order); the error when it fails at once.
  std::function<StartStatus(SocketHandle socket, const SocketAddress& address, std::uint16_t port, int& error)> start;
  /// Waits at most timeoutMs until at least one of the sockets has finished
  /// connecting, one way or the other, and marks each such one in finished.
  std::function<void(const std::vector<SocketHandle>& sockets, std::vector<bool>& finished, int timeoutMs)> wait;
  /// How a finished attempt ended: 0 when connected (even when the peer has
  /// reset the connection since), else the error.
  std::function<int(SocketHandle socket)> outcome;
  /// Sets the winner up for the delivery (blocking or not as the platform's I/O wants it, no delay).
  std::function<void(SocketHandle socket)> finish;
  std::function<void(SocketHandle socket)> close;
  /// The text of an error ("Connection refused").
  std::function<std::string(int error)> errorText;
  std::function<Clock::time_point()> now;
};

/// The system's operations on this platform.
AttemptOps SystemAttemptOps();

/// The reason given for an attempt that ran out of time.
constexpr char kAttemptTimedOut[] = "Connection timed out";

/// Runs the attempts over the addresses, in order, on port (in network byte
/// order): see ConnectToRelay.
RelayConnection RunAttempts(const std::vector<SocketAddress>& addresses, std::uint16_t port, SocketHandle firstSocket,
                            const ConnectTiming& timing, const AttemptOps& ops,
                            const std::function<void(const std::string&)>& note);

}  // namespace platform
