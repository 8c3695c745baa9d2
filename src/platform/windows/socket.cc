#include "platform/socket.h"

#include "platform/connect_attempts.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <vector>

namespace platform {
namespace {

SOCKET ToSocket(SocketHandle socket) { return static_cast<SOCKET>(socket); }

// Waits until the socket is readable or writable; kTimedOut when the wait runs out.
IoStatus WaitFor(SocketHandle socket, bool forWriting, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(ToSocket(socket), &set);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int ready = ::select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr, &limit);
  if (ready > 0) return IoStatus::kDone;
  return ready == 0 ? IoStatus::kTimedOut : IoStatus::kFailed;
}

// What a failed lookup means, and its text, from the Winsock error.
ResolveStatus LookupFailure(int error, std::string& detail) {
  switch (error) {
    case WSAHOST_NOT_FOUND:
      detail = "Unknown host";
      return ResolveStatus::kNoSuchName;
    case WSANO_DATA:
      detail = "No address associated with name";
      return ResolveStatus::kNoSuchName;
    case WSATRY_AGAIN:
      detail = "Host name lookup failure";
      return ResolveStatus::kTryAgain;
    default:
      detail = "Unknown server error (" + std::to_string(error) + ")";
      return ResolveStatus::kFailed;
  }
}

}  // namespace

void StartSockets() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 0), &data);
}

void CleanupSockets() { ::WSACleanup(); }

SocketHandle CreateStreamSocket() {
  SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
  return socket == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(socket);
}

int LastSocketError() { return ::WSAGetLastError(); }

ResolveStatus ResolveHost(const char* name, HostEntry& entry, std::string& detail) {
  const hostent* host = ::gethostbyname(name);
  if (host != nullptr && host->h_addr_list != nullptr &&
      FillHostEntry(host->h_name, host->h_addrtype, host->h_addr_list[0], host->h_length, entry)) {
    return ResolveStatus::kFound;
  }
  return LookupFailure(host == nullptr ? ::WSAGetLastError() : WSANO_DATA, detail);
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

// The texts Linux gives for the errors a connect meets most, so both platforms tell them alike.
std::string ErrorText(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return "Connection refused";
    case WSAENETUNREACH:
      return "Network is unreachable";
    case WSAEHOSTUNREACH:
      return "No route to host";
    case WSAETIMEDOUT:
      return "Connection timed out";
    case WSAEADDRNOTAVAIL:
      return "Cannot assign requested address";
    case WSAEAFNOSUPPORT:
      return "Address family not supported by protocol";
    default:
      return "Winsock error " + std::to_string(error);
  }
}

bool SetNonBlocking(SocketHandle socket) {
  u_long nonBlocking = 1;
  return ::ioctlsocket(ToSocket(socket), FIONBIO, &nonBlocking) == 0;
}

}  // namespace

ResolveStatus ResolveRelay(const char* name, IpFamily family, RelayHost& host, std::string& detail) {
  int status = LookUpRelay(name, family, WSANO_DATA, host);
  if (status == 0) return ResolveStatus::kFound;
  return LookupFailure(status, detail);
}

AttemptOps SystemAttemptOps() {
  AttemptOps ops;
  ops.open = [](bool ipv6, int& error) -> SocketHandle {
    SOCKET socket = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (socket == INVALID_SOCKET) {
      error = ::WSAGetLastError();
      return kNoSocket;
    }
    if (!SetNonBlocking(static_cast<SocketHandle>(socket))) {
      error = ::WSAGetLastError();
      ::closesocket(socket);
      return kNoSocket;
    }
    return static_cast<SocketHandle>(socket);
  };
  ops.prepare = [](SocketHandle socket, int& error) {
    if (SetNonBlocking(socket)) return true;
    error = ::WSAGetLastError();
    return false;
  };
  ops.start = [](SocketHandle socket, const SocketAddress& address, std::uint16_t port, int& error) {
    SocketAddress target = WithPort(address, port);
    auto length = static_cast<int>(address.length);
    if (::connect(ToSocket(socket), reinterpret_cast<const sockaddr*>(target.bytes), length) == 0) return StartStatus::kConnected;
    error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK ? StartStatus::kInProgress : StartStatus::kFailed;
  };
  // select, not WSAPoll: WSAPoll on older Windows never reports a refused connect.
  // Its sets hold FD_SETSIZE (64) sockets, which kMaxAddresses does not pass.
  static_assert(kMaxAddresses <= FD_SETSIZE);
  ops.wait = [](const std::vector<SocketHandle>& sockets, std::vector<bool>& finished, int timeoutMs) {
    fd_set connected, failed;
    FD_ZERO(&connected);
    FD_ZERO(&failed);
    for (SocketHandle socket : sockets) {
      FD_SET(ToSocket(socket), &connected);
      FD_SET(ToSocket(socket), &failed);
    }
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (::select(0, nullptr, &connected, &failed, &limit) <= 0) return;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
      finished[i] = FD_ISSET(ToSocket(sockets[i]), &connected) || FD_ISSET(ToSocket(sockets[i]), &failed);
    }
  };
  ops.outcome = [](SocketHandle socket) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(ToSocket(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
      return ::WSAGetLastError();
    }
    // Connected, and already reset by the peer: the dialogue finds that out, as it would have.
    return error == WSAECONNRESET ? 0 : error;
  };
  // The socket stays non-blocking: every wait is bounded by select.
  ops.finish = [](SocketHandle socket) {
    BOOL on = TRUE;
    ::setsockopt(ToSocket(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  };
  ops.close = CloseSocket;
  ops.errorText = ErrorText;
  ops.now = [] { return Clock::now(); };
  return ops;
}

IoResult ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity, int timeoutMs) {
  IoStatus ready = WaitFor(socket, false, timeoutMs);
  if (ready != IoStatus::kDone) return {ready, 0};
  int length = capacity > 0x7fffffff ? 0x7fffffff : static_cast<int>(capacity);
  int got = ::recv(ToSocket(socket), buffer, length, 0);
  if (got > 0) return {IoStatus::kDone, static_cast<std::size_t>(got)};
  if (got == 0) return {IoStatus::kClosed, 0};
  int error = ::WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return {IoStatus::kDone, 0};
  return {error == WSAECONNRESET ? IoStatus::kClosed : IoStatus::kFailed, 0};
}

IoResult SendSome(SocketHandle socket, const char* data, std::size_t length, int timeoutMs) {
  int chunk = length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
  for (bool waited = false;;) {
    int sent = ::send(ToSocket(socket), data, chunk, 0);
    if (sent >= 0) return {IoStatus::kDone, static_cast<std::size_t>(sent)};
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return {IoStatus::kFailed, 0};
    if (waited) return {IoStatus::kDone, 0};  // the caller tries again within its bound
    IoStatus ready = WaitFor(socket, true, timeoutMs);
    if (ready != IoStatus::kDone) return {ready, 0};
    waited = true;
  }
}

void ShutdownSocket(SocketHandle socket) { ::shutdown(ToSocket(socket), SD_BOTH); }

void CloseSocket(SocketHandle socket) { ::closesocket(ToSocket(socket)); }

}  // namespace platform
