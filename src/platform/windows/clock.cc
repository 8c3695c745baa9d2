#include "platform/clock.h"

#include <ctime>

#include "platform/shared.h"

namespace platform {

LocalTime ToLocalTime(CalendarTime time) {
  std::time_t value = static_cast<std::time_t>(time);
  std::tm fields{};
  if (::localtime_s(&fields, &value) != 0) return LocalTime();
  return LocalTimeFrom(fields);
}

}  // namespace platform
