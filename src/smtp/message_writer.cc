#include "smtp/message_writer.h"

#include <cstring>

#include "log/log.h"
#include "smtp/exchange.h"

MessageWriter::MessageWriter(Session& session) : session_(session), buffer_(new char[kCapacity]) {}

bool MessageWriter::Put(std::string_view text, std::string_view failure, std::string_view logAfter, Step step) {
  char* room = Reserve(text.size());
  if (room == nullptr) return false;
  std::memcpy(room, text.data(), text.size());
  Commit(text.size(), failure, logAfter, step);
  return true;
}

char* MessageWriter::Reserve(std::size_t length) {
  if (length > kCapacity) {
    failure_ = AbortDelivery(session_, Outcome::kInternal, Step::kMessage, "The message writer's buffer is too small");
    return nullptr;
  }
  if ((kCapacity - used_ < length || stepCount_ == kMaxSteps) && !Flush()) return nullptr;
  return buffer_.get() + used_;
}

void MessageWriter::Commit(std::size_t length, std::string_view failure, std::string_view logAfter, Step step) {
  used_ += length;
  Entry* last = stepCount_ > 0 ? &steps_[stepCount_ - 1] : nullptr;
  // Pieces of one step (the body's blocks) share one entry.
  if (last && last->failure == failure && last->logAfter.empty() && logAfter.empty()) {
    last->end = used_;
    return;
  }
  Entry& entry = steps_[stepCount_++];
  entry.end = used_;
  entry.failure.assign(failure);
  entry.logAfter.assign(logAfter);
  entry.step = step;
}

bool MessageWriter::Flush() {
  if (used_ == 0) return true;
  std::size_t sent = 0;
  session_.connection().Send(std::string_view(buffer_.get(), used_), session_.Bounds().send, &sent);
  for (std::size_t i = 0; i < stepCount_; ++i) {
    if (steps_[i].end > sent) {
      failure_ = AbortDelivery(session_, ClassOfLoss(false), steps_[i].step, steps_[i].failure);
      return false;
    }
    if (!steps_[i].logAfter.empty()) LogMessage(steps_[i].logAfter, false);
  }
  used_ = 0;
  stepCount_ = 0;
  return true;
}
