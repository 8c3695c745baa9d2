// A relay on 127.0.0.1:25 (or another loopback address) that follows a
// script: a reply for the greeting and one for each command (or whole DATA
// text) it receives, recording every byte. It serves one connection and is
// bounded by an idle timeout. Beside it, an address that never answers.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

struct RelayStep {
  // kSilent stops answering but keeps reading; kStall stops reading too.
  enum class Then { kContinue, kClose, kReset, kSilent, kStall };
  std::vector<std::string> pieces;  // sent one by one, with a pause between them
  Then then = Then::kContinue;
  int pauseMs = 50;
  std::function<void()> beforeAnswer;  // run on the relay's thread before the step, while the client waits
};

/// A step taken in the middle of the DATA text, once this many of its bytes arrived.
struct DataFault {
  std::size_t afterBytes = 0;
  RelayStep step;
};

/// A listening socket on a loopback address ("127.0.0.2", "::1") and port,
/// with room for backlog connections not yet accepted; -1 when it cannot be made.
int ListenOn(const std::string& address, int port, int backlog = 4);

/// A step that answers with one text.
RelayStep Answer(std::string text);
/// A step that answers with the pieces and a pause between them.
RelayStep AnswerInPieces(std::vector<std::string> pieces);
/// A step that closes (or resets) the connection instead of answering.
RelayStep Hangup(RelayStep::Then how = RelayStep::Then::kClose);
/// The answers of a relay that accepts everything: 220, 250 x3, 354, 250, 221.
std::vector<RelayStep> AcceptingScript();

class ScriptedRelay {
 public:
  /// Listens at once; the script is served to the first connection.
  explicit ScriptedRelay(std::vector<RelayStep> script, int idleTimeoutMs = 20000);
  /// The same, with a fault in the middle of the first DATA text.
  ScriptedRelay(std::vector<RelayStep> script, DataFault fault, int idleTimeoutMs = 20000);
  /// The same on another loopback address, port 25.
  ScriptedRelay(std::vector<RelayStep> script, const std::string& address, int idleTimeoutMs = 20000);
  ~ScriptedRelay();
  ScriptedRelay(const ScriptedRelay&) = delete;
  ScriptedRelay& operator=(const ScriptedRelay&) = delete;

  bool Listening() const { return listener_ >= 0; }
  /// Waits for the connection to end and returns every byte received.
  std::string Received();

 private:
  void Serve();
  bool SendStep(int fd, const RelayStep& step);

  std::vector<RelayStep> script_;
  DataFault fault_;
  bool hasFault_ = false;
  int idleTimeoutMs_;
  int listener_ = -1;
  std::string received_;
  std::thread thread_;
};

/// An address where a connect waits without an answer, as at a host that
/// drops it: a listener on it that never accepts, its one place in the
/// queue taken, so that the system drops every further connection request.
class SilentAddress {
 public:
  explicit SilentAddress(const std::string& address, int port = 25);
  ~SilentAddress();
  SilentAddress(const SilentAddress&) = delete;
  SilentAddress& operator=(const SilentAddress&) = delete;

  /// Whether the listener is there and its queue is full.
  bool Ready() const { return ready_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  bool ready_ = false;
};
