// Pieces that both platform implementations share; only they include this.
#pragma once

#include <chrono>
#include <ctime>

#include "platform/clock.h"
#include "platform/socket.h"

namespace platform {

using Clock = std::chrono::steady_clock;

/// The moment timeoutMs from now.
inline Clock::time_point DeadlineAfter(int timeoutMs) { return Clock::now() + std::chrono::milliseconds(timeoutMs); }

/// Milliseconds left until the deadline, 0 once it has passed.
inline int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

/// Takes a command's output into line while its first line lasts: up to and
/// with the first LF, at most capacity bytes in all; the rest is dropped.
struct FirstLineSink {
  char* line;
  std::size_t capacity;
  std::size_t length = 0;
  bool ended = false;

  void Take(const char* data, std::size_t count);
};

/// Copies a resolver's name into a host name field, cut to fit; an absent name is empty.
void CopyHostName(const char* name, char (&field)[kHostNameCapacity]);

/// Fills entry from a resolver's answer; false when the address does not fit.
bool FillHostEntry(const char* officialName, int family, const char* firstAddress, int addressLength,
                   HostEntry& entry);

/// The fields the program prints, from a broken-down time.
LocalTime LocalTimeFrom(const std::tm& fields);

/// Local time minus UTC, in seconds, from the two breakdowns of one moment.
int UtcOffsetBetween(const std::tm& local, const std::tm& utc);

}  // namespace platform
