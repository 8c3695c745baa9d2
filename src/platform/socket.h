// Stream sockets, the resolver and the services table, behind plain types so
// that nothing outside this folder sees a system networking header.
#pragma once

#include <cstddef>
#include <cstdint>
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

/// Resolves a host name or dotted address. When it does not resolve, detail
/// receives the resolver's reason.
ResolveStatus ResolveHost(const char* name, HostEntry& entry, std::string& detail);

/// The entry's address as text ("192.0.2.1").
std::string AddressText(const HostEntry& host);

/// Looks a service up in the system's services table; the port is returned in
/// network byte order. False when there is no such entry.
bool LookupServicePort(const char* service, const char* protocol, std::uint16_t& port);

/// A port number in network byte order, as LookupServicePort gives it.
std::uint16_t PortInNetworkOrder(std::uint16_t port);
/// A port number in network byte order as a number.
std::uint16_t PortInHostOrder(std::uint16_t port);

/// Connects to the first address of the entry, port in network byte order;
/// false with the system's reason in error.
bool ConnectSocket(SocketHandle socket, const HostEntry& host, std::uint16_t port, std::string& error);

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
