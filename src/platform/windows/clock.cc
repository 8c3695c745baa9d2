#include "platform/clock.h"

#include <ctime>

#include "platform/shared.h"

namespace platform {

LocalTime ToLocalTime(CalendarTime time) {
  std::time_t value = static_cast<std::time_t>(time);
  std::tm fields{};
  std::tm utc{};
  if (::localtime_s(&fields, &value) != 0 || ::gmtime_s(&utc, &value) != 0) return LocalTime();
  LocalTime local = LocalTimeFrom(fields);
  // The C runtime has no offset field: it is the difference of the two breakdowns.
  local.utcOffsetSeconds = UtcOffsetBetween(fields, utc);
  return local;
}

}  // namespace platform
