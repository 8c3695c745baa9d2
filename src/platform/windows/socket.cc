#include "platform/socket.h"

#include "platform/shared.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

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
  int error = host == nullptr ? ::WSAGetLastError() : WSANO_DATA;
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

std::string AddressText(const HostEntry& host) {
  if (host.family != AF_INET || host.addressLength != 4) return {};
  const unsigned char* a = host.address;
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
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
  if (::connect(ToSocket(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = "Winsock error " + std::to_string(::WSAGetLastError());
    return false;
  }
  BOOL on = TRUE;
  ::setsockopt(ToSocket(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  // Every wait is bounded by select: the socket itself never blocks.
  u_long nonBlocking = 1;
  ::ioctlsocket(ToSocket(socket), FIONBIO, &nonBlocking);
  return true;
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
