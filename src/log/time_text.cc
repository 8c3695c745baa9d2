#include "log/time_text.h"

#include "platform/fixed_text.h"
#include "front/mail_settings.h"

namespace {
constexpr char kDayNames[] = "SunMonTueWedThuFriSat";
constexpr char kMonthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

int Clamp(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }
}  // namespace

void FormatTimeText(const platform::LocalTime& time, char (&text)[kTimeTextCapacity]) {
  const char* day = kDayNames + 3 * Clamp(time.dayOfWeek, 0, 6);
  const char* month = kMonthNames + 3 * Clamp(time.month, 0, 11);
  // The fields are clamped to their widths, so the text always fits.
  static_assert(kTimeTextCapacity > kTimeTextLength + 1, "room for a five-digit year");
  (void)FormatText(text, sizeof text, "%.3s %.3s %02d %02d:%02d:%02d %04d\n", day, month, Clamp(time.dayOfMonth, 0, 99),
             Clamp(time.hour, 0, 99), Clamp(time.minute, 0, 99), Clamp(time.second, 0, 99),
             Clamp(time.year, 0, 99999));
}

void StartTimeText(char (&text)[kTimeTextCapacity]) { FormatTimeText(platform::ToLocalTime(StartTime), text); }

void FormatMailDate(const platform::LocalTime& time, char (&text)[kMailDateCapacity]) {
  const char* day = kDayNames + 3 * Clamp(time.dayOfWeek, 0, 6);
  const char* month = kMonthNames + 3 * Clamp(time.month, 0, 11);
  int offsetMinutes = Clamp(time.utcOffsetSeconds, -99 * 3600, 99 * 3600) / 60;
  char sign = offsetMinutes < 0 ? '-' : '+';
  if (offsetMinutes < 0) offsetMinutes = -offsetMinutes;
  // The fields are clamped to their widths, so the text always fits.
  static_assert(kMailDateCapacity > sizeof "Tue, 08 Dec 99999 03:48:12 +0000");
  (void)FormatText(text, sizeof text, "%.3s, %02d %.3s %04d %02d:%02d:%02d %c%02d%02d", day,
                   Clamp(time.dayOfMonth, 0, 99), month, Clamp(time.year, 0, 99999), Clamp(time.hour, 0, 99),
                   Clamp(time.minute, 0, 99), Clamp(time.second, 0, 99), sign, offsetMinutes / 60, offsetMinutes % 60);
}

void StartMailDate(char (&text)[kMailDateCapacity]) { FormatMailDate(platform::ToLocalTime(StartTime), text); }
