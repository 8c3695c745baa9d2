#include "smtp/connection.h"

#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

ConnectionOps SocketOps(platform::SocketHandle socket) {
  ConnectionOps ops;
  ops.receive = [socket](char* buffer, std::size_t capacity, int timeoutMs) {
    return platform::ReceiveSome(socket, buffer, capacity, timeoutMs);
  };
  ops.send = [socket](const char* data, std::size_t length, int timeoutMs) {
    return platform::SendSome(socket, data, length, timeoutMs);
  };
  ops.close = [socket] {
    platform::ShutdownSocket(socket);
    platform::CloseSocket(socket);
  };
  return ops;
}

Connection::Connection(ConnectionOps ops, ReplyBounds bounds)
    : ops_(std::move(ops)), bounds_(bounds), replyBuffer_(new char[kReplyBufferCapacity]) {}

Connection::~Connection() { Close(); }

void Connection::Close() {
  if (!open_) return;
  open_ = false;
  if (ops_.close) ops_.close();
}

bool Connection::Send(std::string_view data, Milliseconds bound, std::size_t* sent) {
  std::size_t done = 0;
  bool complete = open_;
  Clock::time_point deadline = Clock::now() + bound;
  while (complete && done < data.size()) {
    platform::IoResult result = ops_.send(data.data() + done, data.size() - done, RemainingMs(deadline));
    if (result.status != platform::IoStatus::kDone) complete = false;
    done += result.count;
    if (done < data.size() && Clock::now() >= deadline) complete = false;
  }
  if (sent) *sent = done;
  return complete;
}

bool Connection::SendWhileReceiving(std::string_view data, Milliseconds bound, std::size_t* sent) {
  constexpr int kPollMs = 10;  // how long to wait for either side at a time
  std::size_t done = 0;
  bool complete = open_;
  Clock::time_point deadline = Clock::now() + bound;
  while (complete && done < data.size()) {
    platform::IoResult result = ops_.send(data.data() + done, data.size() - done, 0);
    if (result.status == platform::IoStatus::kDone && result.count > 0) {
      done += result.count;
      continue;
    }
    if (result.status != platform::IoStatus::kDone && result.status != platform::IoStatus::kTimedOut) {
      complete = false;
      break;
    }
    if (used_ < kReplyBufferCapacity) {
      platform::IoResult got = ops_.receive(replyBuffer_.get() + used_, kReplyBufferCapacity - used_, kPollMs);
      if (got.status == platform::IoStatus::kDone) {
        used_ += got.count;
      } else if (got.status != platform::IoStatus::kTimedOut) {
        complete = false;
      }
    } else {
      result = ops_.send(data.data() + done, data.size() - done, kPollMs);
      if (result.status == platform::IoStatus::kDone) done += result.count;
    }
    if (done < data.size() && Clock::now() >= deadline) complete = false;
  }
  if (sent) *sent = done;
  return complete;
}

Reply Connection::ReadReply(Milliseconds bound, bool tlsRecords) {
  if (delivered_ > 0) {
    std::memmove(replyBuffer_.get(), replyBuffer_.get() + delivered_, used_ - delivered_);
    used_ -= delivered_;
    delivered_ = 0;
    scanner_.Reset();
  }
  Clock::time_point deadline = Clock::now() + bound;
  for (;;) {
    std::size_t length = scanner_.Scan(replyBuffer_.get(), used_);
    if (length > 0) {
      delivered_ = length;
      return {ReplyStatus::kComplete, std::string_view(replyBuffer_.get(), length)};
    }
    std::string_view partial(replyBuffer_.get(), used_);
    if (tlsRecords && used_ >= 2 && (partial[0] == 0x15 || partial[0] == 0x16) && partial[1] == 0x03) {
      return {ReplyStatus::kTlsRecord, partial};
    }
    if (used_ == kReplyBufferCapacity) return {ReplyStatus::kTooLong, partial};
    if (!open_) return {ReplyStatus::kClosed, partial};
    int remaining = RemainingMs(deadline);
    if (remaining == 0) return {ReplyStatus::kTimedOut, partial};
    platform::IoResult result = ops_.receive(replyBuffer_.get() + used_, kReplyBufferCapacity - used_, remaining);
    switch (result.status) {
      case platform::IoStatus::kDone:
        used_ += result.count;
        break;
      case platform::IoStatus::kClosed:
        return {ReplyStatus::kClosed, partial};
      case platform::IoStatus::kTimedOut:
        return {ReplyStatus::kTimedOut, partial};
      case platform::IoStatus::kFailed:
        return {ReplyStatus::kFailed, partial};
    }
  }
}
