#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/shared.h"

namespace platform {
namespace {

int ToFd(SocketHandle socket) { return static_cast<int>(socket); }

// Waits until the socket is ready for the given events; false on timeout or error.
IoStatus WaitFor(SocketHandle socket, short events, int timeoutMs) {
  pollfd entry{ToFd(socket), events, 0};
  for (;;) {
    int ready = ::poll(&entry, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready > 0) return IoStatus::kDone;
    if (ready == 0) return IoStatus::kTimedOut;
    if (errno != EINTR) return IoStatus::kFailed;
  }
}

}  // namespace

void StartSockets() {}
void CleanupSockets() {}

SocketHandle CreateStreamSocket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? kNoSocket : fd;
}

int LastSocketError() { return errno; }

ResolveStatus ResolveHost(const char* name, HostEntry& entry, std::string& detail) {
  const hostent* host = ::gethostbyname(name);
  if (host != nullptr && host->h_addr_list != nullptr &&
      FillHostEntry(host->h_name, host->h_addrtype, host->h_addr_list[0], host->h_length, entry)) {
    return ResolveStatus::kFound;
  }
  int error = host == nullptr ? h_errno : NO_DATA;
  detail = ::hstrerror(error);
  switch (error) {
    case HOST_NOT_FOUND:
    case NO_DATA:
      return ResolveStatus::kNoSuchName;
    case TRY_AGAIN:
      return ResolveStatus::kTryAgain;
    default:
      return ResolveStatus::kFailed;
  }
}

std::string AddressText(const HostEntry& host) {
  char text[INET6_ADDRSTRLEN] = {};
  if (::inet_ntop(host.family, host.address, text, sizeof text) == nullptr) return {};
  return text;
}

bool LookupServicePort(const char* service, const char* protocol, std::uint16_t& port) {
  const servent* entry = ::getservbyname(service, protocol);
  if (entry == nullptr) return false;
  port = static_cast<std::uint16_t>(entry->s_port);
  return true;
}

std::uint16_t PortInNetworkOrder(std::uint16_t port) { return htons(port); }
std::uint16_t PortInHostOrder(std::uint16_t port) { return ntohs(port); }

bool ConnectSocket(SocketHandle socket, const HostEntry& host, std::uint16_t port, std::string& error) {
  if (host.family != AF_INET || host.addressLength != sizeof(in_addr)) {
    error = "not an IPv4 address";
    return false;
  }
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = port;
  std::memcpy(&address.sin_addr, host.address, host.addressLength);
  int result;
  do {
    result = ::connect(ToFd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    error = std::strerror(errno);
    return false;
  }
  // Commands and replies alternate: never hold a short write back for an acknowledgement.
  int on = 1;
  ::setsockopt(ToFd(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return true;
}

IoResult ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity, int timeoutMs) {
  IoStatus ready = WaitFor(socket, POLLIN, timeoutMs);
  if (ready != IoStatus::kDone) return {ready, 0};
  for (;;) {
    ssize_t got = ::recv(ToFd(socket), buffer, capacity, MSG_DONTWAIT);
    if (got > 0) return {IoStatus::kDone, static_cast<std::size_t>(got)};
    if (got == 0) return {IoStatus::kClosed, 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::kDone, 0};
    return {errno == ECONNRESET ? IoStatus::kClosed : IoStatus::kFailed, 0};
  }
}

IoResult SendSome(SocketHandle socket, const char* data, std::size_t length, int timeoutMs) {
  // Most sends find room at once: wait only when the connection is full.
  for (bool waited = false;;) {
    ssize_t sent = ::send(ToFd(socket), data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return {IoStatus::kDone, static_cast<std::size_t>(sent)};
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return {IoStatus::kFailed, 0};
    if (waited) return {IoStatus::kDone, 0};  // the caller tries again within its bound
    IoStatus ready = WaitFor(socket, POLLOUT, timeoutMs);
    if (ready != IoStatus::kDone) return {ready, 0};
    waited = true;
  }
}

void ShutdownSocket(SocketHandle socket) { ::shutdown(ToFd(socket), SHUT_RDWR); }

void CloseSocket(SocketHandle socket) { ::close(ToFd(socket)); }

}  // namespace platform
