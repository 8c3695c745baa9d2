// A relay on 127.0.0.1:25 that follows a script: a reply for the greeting
// and one for each command (or whole DATA text) it receives, recording every
// byte. It serves one connection and is bounded by an idle timeout.
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

/// A listening socket on 127.0.0.1:port; -1 when it cannot be made.
int ListenOnLoopback(int port);

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
