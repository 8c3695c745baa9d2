// The message after DATA (header lines, body, end of data) goes out in large
// writes through one bounded buffer. Each piece keeps its step's texts, so
// the log reads exactly as if every piece had been sent on its own: a step's
// "OK" is logged once its last byte has gone out, and a failed write names
// the step that owns the first byte that could not be sent.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "smtp/connection.h"

class MessageWriter {
 public:
  static constexpr std::size_t kCapacity = 256 * 1024;

  explicit MessageWriter(Connection& connection);

  /// Queues a step's text. logAfter (or nothing, when empty) is logged as
  /// information once the text is out; failure is the step's send failure
  /// text. The writer keeps its own copies of both. False after
  /// AbortDelivery when queued bytes could not be sent.
  bool Put(std::string_view text, std::string_view failure, std::string_view logAfter);

  /// Room for up to length bytes at the end of the queue; sends what is
  /// queued first when needed. nullptr after AbortDelivery.
  char* Reserve(std::size_t length);
  /// Takes length bytes written into the reserved room as part of a step.
  void Commit(std::size_t length, std::string_view failure, std::string_view logAfter);

  /// Sends everything queued. False after AbortDelivery.
  bool Flush();

 private:
  struct Step {
    std::size_t end;  // offset in the buffer just past the step's last byte
    std::string failure;
    std::string logAfter;
  };
  static constexpr std::size_t kMaxSteps = 16;

  Connection& connection_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  Step steps_[kMaxSteps];
  std::size_t stepCount_ = 0;
};
