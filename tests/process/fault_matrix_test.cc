// Every relay fault at every point of the dialogue. Each cell runs the real
// delivery (SendMail, then the driver's ending) in a child process against a
// scripted relay, with every bound shortened to 300 ms, the log in file mode.
//
// The matrix (S: the mail is sent; X: "Previous response was not expected!";
// W: the step's write fails, then "Failed to send the mail."; -: no such cell,
// because the relay has no reply to give there and text it sends unasked is
// read as the reply to the end of data, the row "after end of data"):
//
//   point \ fault         close reset silent garbage bytewise 1MiB wrong-code
//   before the greeting     X     X     X      X        S      X      X
//   after HELO              X     X     X      X        S      X      X
//   after MAIL FROM         X     X     X      X        S      X      X
//   after RCPT TO (1st)     X     X     X      X        S      X      X
//   after RCPT TO (2nd)     X     X     X      X        S      X      X
//   after DATA              X     X     X      X        S      X      X
//   mid headers             X     X     X      -        -      -      -
//   mid body                W     W     W      -        -      -      -
//   after end of data       X     X     X      X        S      X      X
//   after QUIT              S     S     S      S        S      S      S
#include <chrono>
#include <filesystem>
#include <functional>
#include <vector>
#include <memory>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/console.h"
#include "front/driver.h"
#include "front/mail_settings.h"
#include "process/process_fixture.h"
#include "smtp/send_mail.h"

namespace {

using Then = RelayStep::Then;

enum class Fault { kClose, kReset, kSilent, kGarbage, kBytewise, kMegabyte, kWrongCode };
enum class Outcome { kSent, kNotExpected, kWriteFailed, kNone };

struct Point {
  const char* name;
  int step;               // the script step the fault replaces, or -1 for a fault inside DATA
  std::size_t dataBytes;  // for a fault inside DATA: after this many bytes of it
  std::size_t bodySize;   // the body's size for this row
  const char* mustLog;    // a record the debug file must hold before the fault, or ""
  Outcome outcomes[7];
};

constexpr Outcome S = Outcome::kSent, X = Outcome::kNotExpected, W = Outcome::kWriteFailed, N = Outcome::kNone;

const Point kPoints[] = {
    {"BeforeGreeting", 0, 0, 100, "", {X, X, X, X, S, X, X}},
    {"AfterHelo", 1, 0, 100, "HELO was OK.", {X, X, X, X, S, X, X}},
    {"AfterMailFrom", 2, 0, 100, "MAIL FROM: OK", {X, X, X, X, S, X, X}},
    {"AfterFirstRcptTo", 3, 0, 100, "Last RCPT TO: OK", {X, X, X, X, S, X, X}},
    {"AfterSecondRcptTo", 4, 0, 100, "RCPT TO: two@example.com", {X, X, X, X, S, X, X}},
    {"AfterData", 5, 0, 100, "DATA OK", {X, X, X, X, S, X, X}},
    {"MidHeaders", -1, 40, 100, "Received 354", {X, X, X, N, N, N, N}},
    {"MidBody", -1, 1 << 20, 32 << 20, "SUBJECT: OK", {W, W, W, N, N, N, N}},
    {"AfterEndOfData", 6, 0, 100, "EOF . OK", {X, X, X, X, S, X, X}},
    {"AfterQuit", 7, 0, 100, "Received 250 2.0.0 Ok: queued", {S, S, S, S, S, S, S}},
};

const char* const kFaultNames[] = {"close", "reset", "silent", "garbage", "bytewise", "1MiB", "wrong code"};

// The relay's answers with room for two recipients.
std::vector<RelayStep> TwoRecipientScript() {
  std::vector<RelayStep> script = AcceptingScript();
  script.insert(script.begin() + 3, Answer("250 2.1.5 Recipient ok\r\n"));
  return script;
}

RelayStep FaultStep(Fault fault, const RelayStep& proper, bool insideData) {
  switch (fault) {
    case Fault::kClose:
      return Hangup(Then::kClose);
    case Fault::kReset:
      return Hangup(Then::kReset);
    case Fault::kSilent:
      return Hangup(insideData ? Then::kStall : Then::kSilent);
    case Fault::kGarbage:
      return Answer("\x01\xffgarbage \x7f\r\n");
    case Fault::kBytewise: {
      RelayStep step;
      for (char c : proper.pieces.at(0)) step.pieces.emplace_back(1, c);
      step.pauseMs = 1;
      return step;
    }
    case Fault::kMegabyte:
      return Answer(std::string(1 << 20, 'x'));
    case Fault::kWrongCode:
      return Answer("421 4.3.2 Going down\r\n");
  }
  return proper;
}

class FaultMatrix : public ProcessTest, public ::testing::WithParamInterface<Point> {
 protected:
  // Runs the delivery in a child against the relay that startRelay makes;
  // returns its exit status (-1: killed) and how long the delivery took. The
  // child is forked before the relay's thread exists (a thread holding a lock
  // at the fork would leave the child stuck) and waits until the relay listens.
  int DeliverInChild(const std::function<std::unique_ptr<ScriptedRelay>()>& startRelay, const std::string& console,
                     const std::string& body, const std::string& recipients, const std::string& debug,
                     std::chrono::steady_clock::duration& took, Milliseconds bound = Milliseconds(300)) {
    int go[2];
    if (::pipe(go) != 0) return -1;
    pid_t child = ::fork();
    if (child == 0) {
      ::alarm(60);  // a hang ends here, and the cell fails
      ::close(go[1]);
      char ready;
      if (::read(go[0], &ready, 1) != 1) ::_exit(2);
      static std::string consolePath;
      consolePath = console;
      SetConsoleSink([](const char* data, std::size_t length) {
        if (FILE* f = std::fopen(consolePath.c_str(), "ab")) {
          std::fwrite(data, 1, length, f);
          std::fclose(f);
        }
        return true;
      });
      Settings = MailSettings();
      Settings.MailFrom.Assign("sender@example.com");
      Settings.MailToInputFile.Assign(recipients);
      Settings.From.Assign("sender@example.com");
      Settings.To.Assign("list@example.com");
      Settings.Subject.Assign("matrix");
      Settings.Gateway.Assign("localhost");
      Settings.Helo.Assign("client.example.com");
      Settings.InputFile.Assign(body);
      Settings.DebugEnabled = true;
      Settings.DebugFile.Assign(debug);
      ReplyBounds bounds;
      bounds.greeting = bounds.command = bounds.dataStart = bounds.send = bounds.endOfData = bounds.quit = bound;
      ::_exit(FinishRun(SendMail(bounds)));
    }
    ::close(go[0]);
    std::unique_ptr<ScriptedRelay> relay = startRelay();
    auto begun = std::chrono::steady_clock::now();
    [[maybe_unused]] ssize_t told = ::write(go[1], "g", 1);
    ::close(go[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    took = std::chrono::steady_clock::now() - begun;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

// The records of a debug file, with the start time masked.
std::vector<std::string> Records(const std::string& log) {
  std::vector<std::string> records;
  std::string masked = MaskVolatile(log);
  for (std::size_t start = 0, end; start < masked.size(); start = end + 1) {
    end = masked.find('\n', start);
    if (end == std::string::npos) end = masked.size();
    records.push_back(masked.substr(start, end - start));
  }
  return records;
}

TEST_P(FaultMatrix, EveryFaultEndsAsItShould) {
  const Point& point = GetParam();
  std::string body = dir_.Write("matrix-body.txt", std::string(point.bodySize - 1, 'b') + "\n");
  std::string recipients = dir_.Write("recipients.txt", "one@example.com\ntwo@example.com\n");

  // A run without a fault: every cell's log must repeat its records up to the fault.
  std::chrono::steady_clock::duration took;
  std::string cleanLog = dir_.path() + "/debug-clean";
  ASSERT_EQ(DeliverInChild([] { return std::make_unique<ScriptedRelay>(TwoRecipientScript(), 2000); },
                           dir_.path() + "/console-clean", body, recipients, cleanLog, took, Milliseconds(10000)),
            0);
  std::vector<std::string> clean = Records(ReadWholeFile(cleanLog));
  std::size_t mustReach = 0;
  while (mustReach < clean.size() && clean[mustReach].find(point.mustLog) == std::string::npos) ++mustReach;
  ASSERT_LT(mustReach, clean.size()) << point.mustLog;

  for (int f = 0; f < 7; ++f) {
    Outcome expected = point.outcomes[f];
    if (expected == Outcome::kNone) continue;
    SCOPED_TRACE(std::string(point.name) + " / " + kFaultNames[f]);
    std::vector<RelayStep> script = TwoRecipientScript();
    std::string console = dir_.path() + "/console-" + std::to_string(f);
    std::string debug = dir_.path() + "/debug-" + std::to_string(f);
    if (point.step >= 0) script[point.step] = FaultStep(static_cast<Fault>(f), script[point.step], false);
    auto startRelay = [&]() {
      if (point.step >= 0) return std::make_unique<ScriptedRelay>(script, 2000);
      DataFault fault{point.dataBytes, FaultStep(static_cast<Fault>(f), {}, true)};
      return std::make_unique<ScriptedRelay>(script, fault, 2000);
    };
    int status = DeliverInChild(startRelay, console, body, recipients, debug, took);
    // Not a timing test: a generous ceiling that only a missing bound would reach.
    EXPECT_LT(took, std::chrono::seconds(20));

    std::string printed = ReadWholeFile(console);
    std::string log = ReadWholeFile(debug);
    switch (expected) {
      case Outcome::kSent:
        EXPECT_EQ(status, 0);
        EXPECT_EQ(printed, kSentLine);
        EXPECT_EQ(log.substr(log.size() - 40), "-RyMail-Info, Your mail has been sent.\r\n");
        break;
      case Outcome::kNotExpected:
        EXPECT_EQ(status, 1);
        EXPECT_EQ(printed, kNotExpected);
        EXPECT_EQ(log.substr(log.size() - std::string(kNotExpected).size()), kNotExpected);
        break;
      case Outcome::kWriteFailed:
        EXPECT_EQ(status, 1);
        EXPECT_EQ(printed, std::string("-RyMail-FAIL, Error writing a line from the InputFile\r\n") + kFailedToSend);
        break;
      case Outcome::kNone:
        break;
    }
    EXPECT_EQ(printed.find("has been sent"), expected == Outcome::kSent ? 26u : std::string::npos);
    std::vector<std::string> records = Records(log);
    std::size_t same = 0;
    while (same < records.size() && same < clean.size() && records[same] == clean[same]) ++same;
    EXPECT_GT(same, mustReach) << "the log must hold every record up to \"" << point.mustLog << "\"\n" << log;
  }
}

INSTANTIATE_TEST_SUITE_P(Points, FaultMatrix, ::testing::ValuesIn(kPoints),
                         [](const ::testing::TestParamInfo<Point>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

class Descriptors : public ProcessTest {};

// Every way the delivery returns (rather than ends the run) leaves no descriptor open.
TEST_F(Descriptors, NoneLeftOpenWhenTheDeliveryReturns) {
  ConsoleSink previous = SetConsoleSink([](const char*, std::size_t) { return true; });
  std::string bigBody = dir_.Write("big.txt", std::string(32 << 20, 'x'));
  struct Case {
    const char* name;
    const char* gateway;
    std::string body;
    bool listen;
    bool closeMidBody;
    bool delivered;
  } cases[] = {
      {"sent", "localhost", body_, true, false, true},
      {"unresolvable relay", "relay.invalid", body_, false, false, false},
      {"refused connection", "localhost", body_, false, false, false},
      {"silent address", "127.0.0.3", body_, false, false, false},
      {"body gone", "localhost", dir_.path() + "/gone.txt", true, false, false},
      {"write fails", "localhost", bigBody, true, true, false},
  };
  SilentAddress silent("127.0.0.3");
  ASSERT_TRUE(silent.Ready());
  ReplyBounds bounds;
  bounds.connect = bounds.greeting = bounds.command = bounds.dataStart = bounds.send = bounds.endOfData = bounds.quit =
      Milliseconds(300);
  for (const Case& c : cases) {
    Settings = MailSettings();
    Settings.MailFrom.Assign("sender@example.com");
    Settings.MailTo.Assign("rcpt@example.com");
    Settings.Subject.Assign("fd");
    Settings.Gateway.Assign(c.gateway);
    Settings.Helo.Assign("client.example.com");
    Settings.InputFile.Assign(c.body);
    int before = OpenDescriptors();
    bool delivered;
    if (c.listen) {
      ScriptedRelay relay = c.closeMidBody ? ScriptedRelay(AcceptingScript(), DataFault{1 << 20, Hangup()}, 2000)
                                           : ScriptedRelay(AcceptingScript(), 2000);
      delivered = SendMail(bounds).Accepted();
      relay.Received();
    } else {
      delivered = SendMail(bounds).Accepted();
    }
    EXPECT_EQ(delivered, c.delivered) << c.name;
    EXPECT_EQ(OpenDescriptors(), before) << c.name;
  }
  SetConsoleSink(previous);
}

}  // namespace
