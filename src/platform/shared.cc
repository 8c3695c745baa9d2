#include "platform/shared.h"

#include <cstring>

namespace platform {

bool FillHostEntry(const char* officialName, int family, const char* firstAddress, int addressLength,
                   HostEntry& entry) {
  if (firstAddress == nullptr || addressLength <= 0 || static_cast<std::size_t>(addressLength) > kHostAddressCapacity) {
    return false;
  }
  entry = HostEntry();
  const char* official = officialName ? officialName : "";
  std::size_t length = 0;
  while (length < kHostNameCapacity - 1 && official[length] != '\0') ++length;
  std::memcpy(entry.officialName, official, length);
  entry.officialName[length] = '\0';
  entry.family = family;
  entry.addressLength = static_cast<std::size_t>(addressLength);
  std::memcpy(entry.address, firstAddress, entry.addressLength);
  return true;
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

CalendarTime CurrentTime() { return static_cast<CalendarTime>(std::time(nullptr)); }

}  // namespace platform
