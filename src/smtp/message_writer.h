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

#include "smtp/result.h"
#include "smtp/session.h"

class MessageWriter {
 public:
  static constexpr std::size_t kCapacity = 256 * 1024;

  explicit MessageWriter(Session& session);

  /// Queues a step's text. logAfter (or nothing, when empty) is logged as
  /// information once the text is out; failure is the step's send failure
  /// text, step where a failure leaves the run. The writer keeps its own
  /// copies of both texts. False after AbortDelivery when queued bytes could
  /// not be sent (Failure() tells).
  bool Put(std::string_view text, std::string_view failure, std::string_view logAfter, Step step = Step::kMessage);

  /// Room for up to length bytes at the end of the queue; sends what is
  /// queued first when needed. nullptr after AbortDelivery.
  char* Reserve(std::size_t length);
  /// Takes length bytes written into the reserved room as part of a step.
  void Commit(std::size_t length, std::string_view failure, std::string_view logAfter, Step step = Step::kMessage);

  /// Sends everything queued. False after AbortDelivery.
  bool Flush();

  /// Why the last Put, Reserve or Flush failed.
  const StepResult& Failure() const { return failure_; }

 private:
  struct Entry {
    std::size_t end;  // offset in the buffer just past the step's last byte
    std::string failure;
    std::string logAfter;
    Step step;
  };
  static constexpr std::size_t kMaxSteps = 24;

  Session& session_;
  StepResult failure_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  Entry steps_[kMaxSteps];
  std::size_t stepCount_ = 0;
};
