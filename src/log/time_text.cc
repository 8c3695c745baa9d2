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
