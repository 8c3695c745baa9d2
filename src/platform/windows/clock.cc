#include "platform/clock.h"

#include <ctime>

namespace platform {

CalendarTime CurrentTime() { return static_cast<CalendarTime>(std::time(nullptr)); }

LocalTime ToLocalTime(CalendarTime time) {
  std::time_t value = static_cast<std::time_t>(time);
  std::tm fields{};
  LocalTime local;
  if (::localtime_s(&fields, &value) != 0) return local;
  local.year = fields.tm_year + 1900;
  local.month = fields.tm_mon;
  local.dayOfMonth = fields.tm_mday;
  local.dayOfWeek = fields.tm_wday;
  local.hour = fields.tm_hour;
  local.minute = fields.tm_min;
  local.second = fields.tm_sec;
  return local;
}

}  // namespace platform
