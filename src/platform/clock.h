// Calendar time and its local-time rendering.
#pragma once

#include <cstdint>

namespace platform {

using CalendarTime = std::int64_t;  // seconds since the epoch

/// The local-time fields the program prints.
struct LocalTime {
  int year = 1970;     // e.g. 2026
  int month = 0;       // 0 = January
  int dayOfMonth = 1;  // 1..31
  int dayOfWeek = 4;   // 0 = Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int utcOffsetSeconds = 0;  // local time minus UTC, e.g. -18000 for New York in December
};

/// The current calendar time; cannot fail (a clock that cannot be read gives -1).
CalendarTime CurrentTime();
/// Breaks the time down in the process's time zone (TZ); a time the system
/// cannot break down gives the epoch's fields.
LocalTime ToLocalTime(CalendarTime time);

}  // namespace platform
