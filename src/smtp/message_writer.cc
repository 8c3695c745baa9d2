#include "smtp/message_writer.h"

#include <cstring>

#include "log/log.h"
#include "smtp/exchange.h"

MessageWriter::MessageWriter(Connection& connection)
    : connection_(connection), buffer_(new char[kCapacity]) {}

bool MessageWriter::Put(std::string_view text, std::string_view failure, std::string_view logAfter) {
  char* room = Reserve(text.size());
  if (room == nullptr) return false;
  std::memcpy(room, text.data(), text.size());
  Commit(text.size(), failure, logAfter);
  return true;
}

char* MessageWriter::Reserve(std::size_t length) {
  if (length > kCapacity) return nullptr;
  if ((kCapacity - used_ < length || stepCount_ == kMaxSteps) && !Flush()) return nullptr;
  return buffer_.get() + used_;
}

void MessageWriter::Commit(std::size_t length, std::string_view failure, std::string_view logAfter) {
  used_ += length;
  Step* last = stepCount_ > 0 ? &steps_[stepCount_ - 1] : nullptr;
  // Pieces of one step (the body's blocks) share one entry.
  if (last && last->failure == failure && last->logAfter.empty() && logAfter.empty()) {
    last->end = used_;
    return;
  }
  Step& step = steps_[stepCount_++];
  step.end = used_;
  step.failure.assign(failure);
  step.logAfter.assign(logAfter);
}

bool MessageWriter::Flush() {
  if (used_ == 0) return true;
  std::size_t sent = 0;
  connection_.Send(std::string_view(buffer_.get(), used_), connection_.Bounds().send, &sent);
  for (std::size_t i = 0; i < stepCount_; ++i) {
    if (steps_[i].end > sent) return AbortDelivery(connection_, steps_[i].failure);
    if (!steps_[i].logAfter.empty()) LogMessage(steps_[i].logAfter, false);
  }
  used_ = 0;
  stepCount_ = 0;
  return true;
}
