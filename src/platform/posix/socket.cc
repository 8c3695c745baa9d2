#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "platform/connect_attempts.h"

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

bool LookupServicePort(const char* service, const char* protocol, std::uint16_t& port) {
  const servent* entry = ::getservbyname(service, protocol);
  if (entry == nullptr) return false;
  port = static_cast<std::uint16_t>(entry->s_port);
  return true;
}

std::uint16_t PortInNetworkOrder(std::uint16_t port) { return htons(port); }
std::uint16_t PortInHostOrder(std::uint16_t port) { return ntohs(port); }

namespace {

bool SetNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

}  // namespace

ResolveStatus ResolveRelay(const char* name, IpFamily family, RelayHost& host, std::string& detail) {
  int status = LookUpRelay(name, family, EAI_NODATA, host);
  if (status == 0) return ResolveStatus::kFound;
  detail = status == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(status);
  switch (status) {
    case EAI_NONAME:
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return ResolveStatus::kNoSuchName;
    case EAI_AGAIN:
      return ResolveStatus::kTryAgain;
    default:
      return ResolveStatus::kFailed;
  }
}

AttemptOps SystemAttemptOps() {
  AttemptOps ops;
  ops.open = [](bool ipv6, int& error) -> SocketHandle {
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) error = errno;
    return fd < 0 ? kNoSocket : fd;
  };
  ops.prepare = [](SocketHandle socket, int& error) {
    if (SetNonBlocking(ToFd(socket), true)) return true;
    error = errno;
    return false;
  };
  ops.start = [](SocketHandle socket, const SocketAddress& address, std::uint16_t port, int& error) {
    SocketAddress target = WithPort(address, port);
    auto length = static_cast<socklen_t>(address.length);
    if (::connect(ToFd(socket), reinterpret_cast<const sockaddr*>(target.bytes), length) == 0) return StartStatus::kConnected;
    // Interrupted, the connect goes on by itself.
    if (errno == EINPROGRESS || errno == EINTR) return StartStatus::kInProgress;
    error = errno;
    return StartStatus::kFailed;
  };
  ops.wait = [](const std::vector<SocketHandle>& sockets, std::vector<bool>& finished, int timeoutMs) {
    std::vector<pollfd> entries;
    for (SocketHandle socket : sockets) entries.push_back({ToFd(socket), POLLOUT, 0});
    if (::poll(entries.data(), entries.size(), timeoutMs) <= 0) return;  // a signal: the caller waits again
    for (std::size_t i = 0; i < entries.size(); ++i) finished[i] = entries[i].revents != 0;
  };
  ops.outcome = [](SocketHandle socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(ToFd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    // Connected, and already reset or closed by the peer: the dialogue finds that out, as it would have.
    return error == ECONNRESET || error == EPIPE ? 0 : error;
  };
  ops.finish = [](SocketHandle socket) {
    SetNonBlocking(ToFd(socket), false);
    // Commands and replies alternate: never hold a short write back for an acknowledgement.
    int on = 1;
    ::setsockopt(ToFd(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  };
  ops.close = CloseSocket;
  ops.errorText = [](int error) { return std::string(std::strerror(error)); };
  ops.now = [] { return Clock::now(); };
  return ops;
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
