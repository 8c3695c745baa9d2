// Pieces that both platform implementations share; only they include this.
#pragma once

#include <ctime>

#include "platform/clock.h"
#include "platform/socket.h"

namespace platform {

/// Fills entry from a resolver's answer; false when the address does not fit.
bool FillHostEntry(const char* officialName, int family, const char* firstAddress, int addressLength,
                   HostEntry& entry);

/// The fields the program prints, from a broken-down time.
LocalTime LocalTimeFrom(const std::tm& fields);

/// Local time minus UTC, in seconds, from the two breakdowns of one moment.
int UtcOffsetBetween(const std::tm& local, const std::tm& utc);

}  // namespace platform
