#include "platform/shared.h"

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "platform/connect_attempts.h"

namespace platform {

namespace {

// Appends the IPv4 and IPv6 addresses getaddrinfo finds for the name, in the
// resolver's order, and sets the host's canonical name.
int LookUpAddresses(const char* name, int family, int flags, int noData, RelayHost& host,
                    std::vector<SocketAddress>& found) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags | AI_CANONNAME;
  addrinfo* list = nullptr;
  int status = ::getaddrinfo(name, nullptr, &hints, &list);
  if (status != 0) return status;
  CopyHostName(list->ai_canonname ? list->ai_canonname : name, host.canonicalName);
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    bool ipv6 = entry->ai_family == AF_INET6;
    if ((!ipv6 && entry->ai_family != AF_INET) || entry->ai_addrlen > kSocketAddressCapacity) continue;
    SocketAddress address;
    address.ipv6 = ipv6;
    address.length = entry->ai_addrlen;
    std::memcpy(address.bytes, entry->ai_addr, address.length);
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = ipv6 ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr)
                           : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr);
    if (::inet_ntop(entry->ai_family, raw, text, sizeof text) == nullptr) continue;
    address.text = text;
    found.push_back(std::move(address));
  }
  ::freeaddrinfo(list);
  return found.empty() ? noData : 0;
}

}  // namespace

int LookUpRelay(const char* name, IpFamily family, int noData, RelayHost& host) {
  host = RelayHost();
  std::vector<SocketAddress> found;
  // An address stands for itself, whatever the family.
  int status = LookUpAddresses(name, AF_UNSPEC, AI_NUMERICHOST, noData, host, found);
  if (status != 0) {
    int wanted = family == IpFamily::kIpv4 ? AF_INET : family == IpFamily::kIpv6 ? AF_INET6 : AF_UNSPEC;
    status = LookUpAddresses(name, wanted, 0, noData, host, found);
  }
  if (status == 0) {
    auto list = std::make_shared<AddressList>();
    list->entries = ArrangeAddresses(std::move(found), family == IpFamily::kAny);
    host.addresses = std::move(list);
  }
  return status;
}

void CopyHostName(const char* name, char (&field)[kHostNameCapacity]) {
  const char* text = name ? name : "";
  std::size_t length = 0;
  while (length < kHostNameCapacity - 1 && text[length] != '\0') ++length;
  std::memcpy(field, text, length);
  field[length] = '\0';
}

SocketAddress WithPort(SocketAddress address, std::uint16_t port) {
  sockaddr_storage storage{};
  std::memcpy(&storage, address.bytes, address.length);
  if (address.ipv6) {
    reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = port;
  } else {
    reinterpret_cast<sockaddr_in*>(&storage)->sin_port = port;
  }
  std::memcpy(address.bytes, &storage, address.length);
  return address;
}

bool FillHostEntry(const char* officialName, int family, const char* firstAddress, int addressLength,
                   HostEntry& entry) {
  if (firstAddress == nullptr || addressLength <= 0 || static_cast<std::size_t>(addressLength) > kHostAddressCapacity) {
    return false;
  }
  entry = HostEntry();
  CopyHostName(officialName, entry.officialName);
  entry.family = family;
  entry.addressLength = static_cast<std::size_t>(addressLength);
  std::memcpy(entry.address, firstAddress, entry.addressLength);
  return true;
}

void FirstLineSink::Take(const char* data, std::size_t count) {
  for (std::size_t i = 0; i < count && !ended && length < capacity; ++i) {
    line[length++] = data[i];
    ended = data[i] == '\n';
  }
}

LocalTime LocalTimeFrom(const std::tm& fields) {
  LocalTime local;
  local.year = fields.tm_year + 1900;
  local.month = fields.tm_mon;
  local.dayOfMonth = fields.tm_mday;
  local.dayOfWeek = fields.tm_wday;
  local.hour = fields.tm_hour;
  local.minute = fields.tm_min;
  local.second = fields.tm_sec;
  return local;
}

namespace {

// Days from 1970-01-01 to the given civil date (month 1..12), for any year.
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

long long SecondsOf(const std::tm& fields) {
  return DaysFromCivil(fields.tm_year + 1900LL, static_cast<unsigned>(fields.tm_mon + 1),
                       static_cast<unsigned>(fields.tm_mday)) *
             86400 +
         fields.tm_hour * 3600LL + fields.tm_min * 60LL + fields.tm_sec;
}

}  // namespace

int UtcOffsetBetween(const std::tm& local, const std::tm& utc) {
  return static_cast<int>(SecondsOf(local) - SecondsOf(utc));
}

CalendarTime CurrentTime() { return static_cast<CalendarTime>(std::time(nullptr)); }

}  // namespace platform
