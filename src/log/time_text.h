// The 25-character local-time text, e.g. "Sun Dec 06 01:32:09 2026\n".
#pragma once

#include <cstddef>

#include "platform/clock.h"

constexpr std::size_t kTimeTextLength = 25;
constexpr std::size_t kTimeTextCapacity = 32;  // room for a year past 9999

/// Renders the time with English day and month names, whatever the locale.
void FormatTimeText(const platform::LocalTime& time, char (&text)[kTimeTextCapacity]);

/// The time text of the run's start time in the process's time zone.
void StartTimeText(char (&text)[kTimeTextCapacity]);

/// The date of a Date header, e.g. "Tue, 08 Dec 2026 03:48:12 +0000".
constexpr std::size_t kMailDateCapacity = 40;

/// Renders the time and its offset from UTC as a mail date, with English
/// names whatever the locale.
void FormatMailDate(const platform::LocalTime& time, char (&text)[kMailDateCapacity]);

/// The mail date of the run's start time in the process's time zone.
void StartMailDate(char (&text)[kMailDateCapacity]);
