// Stream sockets, the resolver and the services table, behind plain types so
// that nothing outside this folder sees a system networking header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

/// Starts the sockets library (version 2.0 where there is one); nothing on
/// platforms whose sockets need no start. Its result is not examined.
void StartSockets();
/// Cleans up the sockets library; nothing where there is none.
void CleanupSockets();

/// Creates an IPv4 stream socket; kNoSocket on failure (see LastSocketError).
SocketHandle CreateStreamSocket();
/// The sockets library's last error number.
int LastSocketError();

constexpr std::size_t kHostNameCapacity = 256;
constexpr std::size_t kHostAddressCapacity = 16;

/// What the resolver answered for a name: its official name and first address.
struct HostEntry {
  char officialName[kHostNameCapacity] = {};  // cut to fit when longer
  int family = 0;
  unsigned char address[kHostAddressCapacity] = {};
  std::size_t addressLength = 0;
};

enum class ResolveStatus {
  kFound,
  kNoSuchName,  // the name does not exist, or has no address
  kTryAgain,    // the resolver could not answer now
  kFailed,      // any other failure
};

/// Resolves a host name or dotted address to its first IPv4 address. When it
/// does not resolve, detail receives the resolver's reason.
ResolveStatus ResolveHost(const char* name, HostEntry& entry, std::string& detail);

/// Which addresses of a name the relay is tried at.
enum class IpFamily { kIpv4, kIpv6, kAny };

/// The addresses of a relay in the order they are tried; only the platform
/// layer looks inside.
struct AddressList;

/// What the resolver found for the relay.
struct RelayHost {
  char canonicalName[kHostNameCapacity] = {};  // cut to fit when longer
  std::shared_ptr<const AddressList> addresses;
};

/// Resolves the relay's name with the system resolver, keeping its order:
/// every address of the family asked for (with kAny both, the families
/// interleaved from the resolver's first). An IPv4 or IPv6 address (without
/// brackets) stands for itself whatever the family. When it does not resolve,
/// detail receives the resolver's reason.
ResolveStatus ResolveRelay(const char* name, IpFamily family, RelayHost& host, std::string& detail);

/// The bounds of the connection attempts.
struct ConnectTiming {
  int attemptMs = 30000;  // each attempt's own bound
  int staggerMs = 250;    // how long an attempt goes alone before the next starts beside it
};

/// A connection to the relay, or why there is none.
struct RelayConnection {
  SocketHandle socket = kNoSocket;  // connected, or kNoSocket when every attempt failed
  std::string address;              // the address connected to ("192.0.2.1", "2001:db8::25")
  std::string failures;             // each address that failed, its port and reason, "; " between them
};

/// Connects to one of the host's addresses, port in network byte order. The
/// first attempt starts at once on firstSocket (an IPv4 stream socket, which
/// this call then owns); when it has not connected after timing.staggerMs,
/// or fails, the next starts beside it on a socket of its own, and so on.
/// The first to connect wins and the others are closed; each attempt gives
/// up after timing.attemptMs. Every further attempt and every failure is
/// told to note as a record ("Trying ...", "Connection to ... failed: ...").
/// After the connect the socket is set up as the rest of the delivery wants it.
RelayConnection ConnectToRelay(const RelayHost& host, std::uint16_t port, SocketHandle firstSocket,
                               const ConnectTiming& timing, const std::function<void(const std::string&)>& note);

/// Looks a service up in the system's services table; the port is returned in
/// network byte order. False when there is no such entry.
bool LookupServicePort(const char* service, const char* protocol, std::uint16_t& port);

/// A port number in network byte order, as LookupServicePort gives it.
std::uint16_t PortInNetworkOrder(std::uint16_t port);
/// A port number in network byte order as a number.
std::uint16_t PortInHostOrder(std::uint16_t port);

enum class IoStatus { kDone, kClosed, kTimedOut, kFailed };

struct IoResult {
  IoStatus status;
  std::size_t count;  // bytes moved when kDone
};

/// Receives what is there, waiting at most timeoutMs for the first byte.
/// kClosed when the peer ended the connection.
IoResult ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity, int timeoutMs);
/// Sends what the connection takes, waiting at most timeoutMs for room.
IoResult SendSome(SocketHandle socket, const char* data, std::size_t length, int timeoutMs);

/// Shuts the connection down in both directions; failures are ignored.
void ShutdownSocket(SocketHandle socket);
/// Closes the socket; failures are ignored.
void CloseSocket(SocketHandle socket);

}  // namespace platform
