#include "platform/connect_attempts.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

struct Attempt {
  std::size_t index;  // of the address
  SocketHandle socket;
  Clock::time_point deadline;
};

// Milliseconds until the moment, rounded up so that a wait never ends just before it.
int MsUntil(Clock::time_point moment, Clock::time_point now) {
  if (moment <= now) return 0;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - now).count();
  return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

// The attempts over one list of addresses, from the first start to a winner
// or to the last failure.
class Attempts {
 public:
  Attempts(const std::vector<SocketAddress>& addresses, std::uint16_t port, SocketHandle firstSocket,
           const ConnectTiming& timing, const AttemptOps& ops, const std::function<void(const std::string&)>& note)
      : addresses_(addresses),
        port_(port),
        portText_(std::to_string(PortInHostOrder(port))),
        spare_(firstSocket),
        timing_(timing),
        ops_(ops),
        note_(note),
        reasons_(addresses.size()) {}

  RelayConnection Run() {
    while (result_.socket == kNoSocket) {
      if (running_.empty()) {
        if (next_ == addresses_.size()) break;
        StartNext();
        continue;
      }
      WaitForNews();
    }
    for (const Attempt& attempt : running_) {
      if (attempt.socket != result_.socket) ops_.close(attempt.socket);
    }
    if (spare_ != kNoSocket) ops_.close(spare_);
    if (result_.socket != kNoSocket) {
      ops_.finish(result_.socket);
      return result_;
    }
    for (std::size_t i = 0; i < addresses_.size(); ++i) {
      if (reasons_[i].empty()) continue;
      if (!result_.failures.empty()) result_.failures += "; ";
      result_.failures += addresses_[i].text + " port " + portText_ + ": " + reasons_[i];
    }
    return result_;
  }

 private:
  void Fail(std::size_t index, std::string reason) {
    note_("Connection to " + addresses_[index].text + " port " + portText_ + " failed: " + reason);
    reasons_[index] = std::move(reason);
  }

  void Win(std::size_t index, SocketHandle socket) {
    result_.socket = socket;
    result_.address = addresses_[index].text;
  }

  void StartNext() {
    std::size_t index = next_++;
    const SocketAddress& address = addresses_[index];
    if (index > 0) note_("Trying " + address.text + " port " + portText_);
    lastStart_ = ops_.now();
    int error = 0;
    SocketHandle socket = kNoSocket;
    // The socket made before the lookup serves the first attempt when the family fits.
    if (spare_ != kNoSocket && !address.ipv6) {
      socket = spare_;
      spare_ = kNoSocket;
      if (!ops_.prepare(socket, error)) {
        ops_.close(socket);
        socket = kNoSocket;
      }
    } else {
      if (spare_ != kNoSocket) ops_.close(spare_);
      spare_ = kNoSocket;
      socket = ops_.open(address.ipv6, error);
    }
    if (socket == kNoSocket) return Fail(index, ops_.errorText(error));
    switch (ops_.start(socket, address, port_, error)) {
      case StartStatus::kConnected:
        return Win(index, socket);
      case StartStatus::kFailed:
        ops_.close(socket);
        return Fail(index, ops_.errorText(error));
      case StartStatus::kInProgress:
        running_.push_back({index, socket, lastStart_ + std::chrono::milliseconds(timing_.attemptMs)});
        return;
    }
  }

  // One wait: until an attempt ends, one runs out of time, or the next is due.
  void WaitForNews() {
    Clock::time_point wake = running_.front().deadline;
    for (const Attempt& attempt : running_) wake = std::min(wake, attempt.deadline);
    bool more = next_ < addresses_.size();
    Clock::time_point due = lastStart_ + std::chrono::milliseconds(timing_.staggerMs);
    if (more) wake = std::min(wake, due);

    std::vector<SocketHandle> sockets;
    for (const Attempt& attempt : running_) sockets.push_back(attempt.socket);
    std::vector<bool> finished(sockets.size(), false);
    ops_.wait(sockets, finished, MsUntil(wake, ops_.now()));

    bool failed = false;
    std::vector<Attempt> still;
    for (std::size_t i = 0; i < running_.size(); ++i) {
      const Attempt& attempt = running_[i];
      if (!finished[i] || result_.socket != kNoSocket) {
        still.push_back(attempt);
        continue;
      }
      int error = ops_.outcome(attempt.socket);
      if (error == 0) {
        Win(attempt.index, attempt.socket);
        still.push_back(attempt);
        continue;
      }
      ops_.close(attempt.socket);
      Fail(attempt.index, ops_.errorText(error));
      failed = true;
    }
    running_ = std::move(still);
    if (result_.socket != kNoSocket) return;

    Clock::time_point now = ops_.now();
    std::vector<Attempt> inTime;
    for (const Attempt& attempt : running_) {
      if (attempt.deadline > now) {
        inTime.push_back(attempt);
        continue;
      }
      ops_.close(attempt.socket);
      Fail(attempt.index, kAttemptTimedOut);
      failed = true;
    }
    running_ = std::move(inTime);
    // A failed attempt hands over at once; a slow one once the stagger has passed.
    if (more && (failed || now >= due)) StartNext();
  }

  const std::vector<SocketAddress>& addresses_;
  std::uint16_t port_;  // in network byte order
  std::string portText_;
  SocketHandle spare_;
  ConnectTiming timing_;
  const AttemptOps& ops_;
  const std::function<void(const std::string&)>& note_;
  std::vector<std::string> reasons_;  // the failure of each address, by index
  std::vector<Attempt> running_;
  std::size_t next_ = 0;
  Clock::time_point lastStart_;
  RelayConnection result_;
};

}  // namespace

std::vector<SocketAddress> ArrangeAddresses(std::vector<SocketAddress> addresses, bool interleave) {
  std::vector<SocketAddress> unique;
  for (SocketAddress& address : addresses) {
    if (unique.size() == kMaxAddresses) break;
    bool seen = std::any_of(unique.begin(), unique.end(), [&address](const SocketAddress& kept) {
      return kept.length == address.length && std::memcmp(kept.bytes, address.bytes, kept.length) == 0;
    });
    if (!seen) unique.push_back(std::move(address));
  }
  if (!interleave || unique.empty()) return unique;
  std::vector<SocketAddress> first, other;
  for (SocketAddress& address : unique) (address.ipv6 == unique.front().ipv6 ? first : other).push_back(address);
  std::vector<SocketAddress> arranged;
  for (std::size_t i = 0; i < std::max(first.size(), other.size()); ++i) {
    if (i < first.size()) arranged.push_back(std::move(first[i]));
    if (i < other.size()) arranged.push_back(std::move(other[i]));
  }
  return arranged;
}

RelayConnection RunAttempts(const std::vector<SocketAddress>& addresses, std::uint16_t port, SocketHandle firstSocket,
                            const ConnectTiming& timing, const AttemptOps& ops,
                            const std::function<void(const std::string&)>& note) {
  return Attempts(addresses, port, firstSocket, timing, ops, note).Run();
}

RelayConnection ConnectToRelay(const RelayHost& host, std::uint16_t port, SocketHandle firstSocket,
                               const ConnectTiming& timing, const std::function<void(const std::string&)>& note) {
  static const AddressList kNone;
  const AddressList& list = host.addresses ? *host.addresses : kNone;
  return RunAttempts(list.entries, port, firstSocket, timing, SystemAttemptOps(), note);
}

}  // namespace platform
