#include "platform/clock.h"

#include <ctime>

#include "platform/shared.h"

namespace platform {

LocalTime ToLocalTime(CalendarTime time) {
  std::time_t value = static_cast<std::time_t>(time);
  std::tm fields{};
  ::tzset();
  if (::localtime_r(&value, &fields) == nullptr) return LocalTime();
  LocalTime local = LocalTimeFrom(fields);
  local.utcOffsetSeconds = static_cast<int>(fields.tm_gmtoff);
  return local;
}

}  // namespace platform
