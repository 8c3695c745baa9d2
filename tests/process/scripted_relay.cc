#include "process/scripted_relay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxReceived = 64 * 1024 * 1024;

bool SendAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

// The socket address of a loopback address and port; false when the text is not an address.
bool SocketAddressOf(const std::string& text, int port, sockaddr_storage& address, socklen_t& length) {
  address = sockaddr_storage{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof *v4;
    return true;
  }
  if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof *v6;
    return true;
  }
  return false;
}

}  // namespace

int ListenOn(const std::string& text, int port, int backlog) {
  sockaddr_storage address;
  socklen_t length;
  if (!SocketAddressOf(text, port, address, length)) return -1;
  int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, backlog) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

SilentAddress::SilentAddress(const std::string& text, int port) {
  sockaddr_storage address;
  socklen_t length;
  // With a backlog of 0 the queue holds one connection: the filler's.
  listener_ = ListenOn(text, port, 0);
  if (listener_ < 0 || !SocketAddressOf(text, port, address, length)) return;
  filler_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (filler_ < 0) return;
  if (::connect(filler_, reinterpret_cast<sockaddr*>(&address), length) != 0 && errno != EINPROGRESS) return;
  pollfd connected{filler_, POLLOUT, 0};
  int error = -1;
  socklen_t size = sizeof error;
  ready_ = ::poll(&connected, 1, 5000) == 1 && ::getsockopt(filler_, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
           error == 0;
}

SilentAddress::~SilentAddress() {
  if (filler_ >= 0) ::close(filler_);
  if (listener_ >= 0) ::close(listener_);
}

RelayStep Answer(std::string text) { return AnswerInPieces({std::move(text)}); }

RelayStep AnswerInPieces(std::vector<std::string> pieces) {
  RelayStep step;
  step.pieces = std::move(pieces);
  return step;
}

RelayStep Hangup(RelayStep::Then how) {
  RelayStep step;
  step.then = how;
  return step;
}

std::vector<RelayStep> AcceptingScript() {
  return {Answer("220 relay.example.com ESMTP ready\r\n"), Answer("250 relay.example.com\r\n"),
          Answer("250 2.1.0 Sender ok\r\n"),               Answer("250 2.1.5 Recipient ok\r\n"),
          Answer("354 End data with <CR><LF>.<CR><LF>\r\n"), Answer("250 2.0.0 Ok: queued\r\n"),
          Answer("221 2.0.0 Bye\r\n")};
}

ScriptedRelay::ScriptedRelay(std::vector<RelayStep> script, DataFault fault, int idleTimeoutMs)
    : ScriptedRelay(std::move(script), idleTimeoutMs) {
  fault_ = std::move(fault);
  hasFault_ = true;
}

ScriptedRelay::ScriptedRelay(std::vector<RelayStep> script, int idleTimeoutMs)
    : ScriptedRelay(std::move(script), std::string("127.0.0.1"), idleTimeoutMs) {}

ScriptedRelay::ScriptedRelay(std::vector<RelayStep> script, const std::string& address, int idleTimeoutMs)
    : script_(std::move(script)), idleTimeoutMs_(idleTimeoutMs) {
  int fd = ListenOn(address, 25);
  if (fd < 0) return;
  listener_ = fd;
  thread_ = std::thread(&ScriptedRelay::Serve, this);
}

ScriptedRelay::~ScriptedRelay() {
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
}

std::string ScriptedRelay::Received() {
  if (thread_.joinable()) thread_.join();
  return received_;
}

bool ScriptedRelay::SendStep(int fd, const RelayStep& step) {
  if (step.beforeAnswer) step.beforeAnswer();
  for (std::size_t i = 0; i < step.pieces.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMs));
    if (!SendAll(fd, step.pieces[i])) return false;
  }
  return true;
}

void ScriptedRelay::Serve() {
  pollfd waiting{listener_, POLLIN, 0};
  if (::poll(&waiting, 1, idleTimeoutMs_) <= 0) return;
  int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;

  std::size_t next = 0;         // the next step of the script
  std::size_t unitStart = 0;    // where the command or DATA text being read began
  bool inData = false;          // reading the text after a 354
  bool answering = true;        // false once the script says to go silent or has run out
  RelayStep::Then ending = RelayStep::Then::kContinue;

  auto take = [&](const RelayStep& step) {
    bool sent = SendStep(fd, step);
    if (!sent || step.then != RelayStep::Then::kContinue) {
      answering = false;
      ending = sent ? step.then : RelayStep::Then::kClose;
    }
  };
  auto runStep = [&](const std::string& unit) {
    if (next >= script_.size()) {
      answering = false;
      return;
    }
    const RelayStep& step = script_[next++];
    inData = unit == "DATA\r\n" && !step.pieces.empty() && step.pieces[0].rfind("354", 0) == 0;
    take(step);
  };

  runStep("");
  char buffer[65536];
  while (ending != RelayStep::Then::kClose && ending != RelayStep::Then::kReset) {
    if (ending == RelayStep::Then::kStall) {
      // Read nothing more; hold the connection until the client lets go.
      pollfd gone{fd, POLLRDHUP, 0};
      ::poll(&gone, 1, idleTimeoutMs_);
      break;
    }
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, idleTimeoutMs_) <= 0) break;
    ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0 || received_.size() > kMaxReceived) break;
    received_.append(buffer, static_cast<std::size_t>(got));
    if (hasFault_ && inData && answering && received_.size() - unitStart >= fault_.afterBytes) {
      hasFault_ = false;
      take(fault_.step);
    }
    while (answering) {
      std::size_t end;
      if (inData) {
        std::size_t from = unitStart >= 2 ? unitStart - 2 : 0;  // the terminator's CR LF may close the last line
        std::size_t found = received_.find("\r\n.\r\n", from);
        if (found == std::string::npos) break;
        end = found + 5;
      } else {
        std::size_t found = received_.find('\n', unitStart);
        if (found == std::string::npos) break;
        end = found + 1;
      }
      std::string unit = received_.substr(unitStart, end - unitStart);
      unitStart = end;
      runStep(unit);
    }
  }
  if (ending == RelayStep::Then::kReset) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  ::close(fd);
}
