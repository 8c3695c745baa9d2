// What a script is told: the exit status in both modes and the result line,
// for every way a run can end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "process/process_fixture.h"

namespace {

// A relay fault, a resolver, or settings that end the run at a step.
struct Ending {
  const char* name;
  int step;          // the step of AcceptingScript() replaced, or -1
  RelayStep answer;  // what the relay does there instead
  std::vector<std::string> extra;  // arguments after the usual ones
  const char* result;
  int sysexits;
  const char* retry;
  const char* where;
  const char* reply;    // the result's reply, or "null"
  const char* failure;  // the result's failure, or "null"
};

const RelayStep kNone;

class Scripts : public ProcessTest {
 protected:
  // Runs RyMail with the result file in both modes; checks the statuses and
  // returns the result line of the sysexits run.
  std::map<std::string, std::string> RunBothModes(const Ending& c, std::vector<std::string> arguments,
                                                  const RunOptions& options = {}) {
    std::map<std::string, std::string> result;
    for (bool sysexits : {false, true}) {
      std::unique_ptr<ScriptedRelay> relay;
      if (c.step >= 0) {
        std::vector<RelayStep> script = AcceptingScript();
        script[c.step] = c.answer;
        relay = std::make_unique<ScriptedRelay>(script, 5000);
      }
      std::string file = dir_.path() + "/result.json";
      std::vector<std::string> run = arguments;
      run.insert(run.begin(), {"--result-file", file});
      std::vector<std::string> environment = Environment();
      if (sysexits) environment.push_back("ryExitCodes=sysexits");
      ProgramRun ran = RunProgram(run, environment, options);
      if (relay) relay->Received();
      int simple = std::string(c.result) == "accepted" ? 0 : 1;
      EXPECT_EQ(ran.status, sysexits ? c.sysexits : simple) << c.name << "\n" << ran.output;
      result = ParseJsonLine(ReadWholeFile(file));
      EXPECT_EQ(result["status"], std::to_string(ran.status)) << c.name;
    }
    return result;
  }
};

TEST_F(Scripts, EveryEndingHasItsStatusAndResultLine) {
  std::vector<std::string> badOption{"--nonsense", "x"};
  const Ending kEndings[] = {
      {"accepted", 6, Answer("221 2.0.0 Bye\r\n"), {}, "accepted", 0, "no", "end-of-data", "250 2.0.0 Ok: queued\r\n", "null"},
      {"greeting 554", 0, Answer("554 5.3.2 No service\r\n"), {}, "refused", 69, "no", "greeting",
       "554 5.3.2 No service\r\n", "Previous response was not expected!"},
      {"greeting 421", 0, Answer("421 4.3.2 Busy\r\n"), {}, "temporary", 75, "yes", "greeting", "421 4.3.2 Busy\r\n",
       "Previous response was not expected!"},
      {"greeting garbled", 0, Answer("\x01\xffgarbage\r\n"), {}, "protocol", 76, "no", "greeting",
       "\x01\xffgarbage\r\n", "Previous response was not expected!"},
      {"closed at greeting", 0, Hangup(), {}, "temporary", 75, "yes", "greeting", "null",
       "Previous response was not expected!"},
      {"HELO 501", 1, Answer("501 5.5.4 Bad HELO\r\n"), {}, "refused", 69, "no", "helo", "501 5.5.4 Bad HELO\r\n",
       "Previous response was not expected!"},
      {"MAIL 451", 2, Answer("451 4.3.0 Try later\r\n"), {}, "temporary", 75, "yes", "mail", "451 4.3.0 Try later\r\n",
       "Previous response was not expected!"},
      {"RCPT 550", 3, Answer("550-5.1.1 No\r\n550 5.1.1 such user\r\n"), {}, "refused", 69, "no", "rcpt",
       "550-5.1.1 No\r\n550 5.1.1 such user\r\n", "Previous response was not expected!"},
      {"RCPT 450 with a permanent enhanced code", 3, Answer("450 5.1.1 No such user\r\n"), {}, "refused", 69, "no",
       "rcpt", "450 5.1.1 No such user\r\n", "Previous response was not expected!"},
      {"DATA 250", 4, Answer("250 2.0.0 Ok\r\n"), {}, "protocol", 76, "no", "data", "250 2.0.0 Ok\r\n",
       "Previous response was not expected!"},
      {"end of data 452", 5, Answer("452 4.3.1 Full\r\n"), {}, "temporary", 75, "yes", "end-of-data",
       "452 4.3.1 Full\r\n", "Previous response was not expected!"},
      {"end of data 554", 5, Answer("554 5.6.0 Spam\r\n"), {}, "refused", 69, "no", "end-of-data",
       "554 5.6.0 Spam\r\n", "Previous response was not expected!"},
      {"closed after the end of data", 5, Hangup(), {}, "unknown", 75, "unsafe", "end-of-data", "null",
       "Previous response was not expected!"},
      {"connection refused", -1, kNone, {"--port", "2525"}, "temporary", 75, "yes", "connect", "null",
       "Failed to connect to localhost"},
      {"unknown option", -1, kNone, badOption, "usage", 64, "no", "settings", "null", "Don't understand [--nonsense]"},
      {"body file missing", -1, kNone, {"-i", "/nonexistent/body"}, "input", 66, "no", "settings", "null",
       "Failed to open input file"},
      {"debug file cannot be created", -1, kNone, {"-d", "/nonexistent/debug.log"}, "output", 73, "no", "settings",
       "null", "Failed to open the debug file [/nonexistent/debug.log]."},
  };
  for (const Ending& c : kEndings) {
    std::vector<std::string> arguments = MailArguments();
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    std::map<std::string, std::string> result = RunBothModes(c, arguments);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(result["result"], c.result);
    EXPECT_EQ(result["retry"], c.retry);
    EXPECT_EQ(result["step"], c.where);
    EXPECT_EQ(result["reply"], c.reply);
    EXPECT_EQ(result["failure"], c.failure);
    bool connected = c.step >= 0;
    EXPECT_EQ(result["address"], connected ? "127.0.0.1" : "null");
    EXPECT_EQ(result["port"], connected ? "25" : std::string(c.name) == "connection refused" ? "2525" : "null");
    std::string where = c.where;
    EXPECT_EQ(result["message_id"].rfind('<', 0) == 0, where == "end-of-data") << result["message_id"];
    std::string accepted = where == "data" || where == "end-of-data" ? "1" : "0";
    std::string refused = where == "rcpt" ? "{\"address\":\"rcpt@example.com\",\"reply\":\"" + std::string(c.reply).substr(0, 3)
                                          : "";
    EXPECT_EQ(result["recipients"].rfind("{\"accepted\":" + accepted + ",\"refused\":[" + refused, 0), 0u)
        << result["recipients"];
  }
}

// The relay's name: one that does not exist, and a resolver that cannot answer now.
TEST_F(Scripts, NameLookupFailuresAreNoHostOrTemporary) {
  // A resolver on loopback that takes every query and answers none.
  int dropper = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(dropper, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::string filesOnly = dir_.Write("nsswitch-files", "hosts: files\n");
  std::string withDns = dir_.Write("nsswitch-dns", "hosts: files dns\n");
  std::string resolver = dir_.Write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
  const Ending kEndings[] = {
      {"no such name", -1, kNone, {}, "no-host", 68, "no", "resolve", "null", "Failed to send the mail."},
      {"try again", -1, kNone, {}, "temporary", 75, "yes", "resolve", "null", "Failed to send the mail."},
  };
  for (const Ending& c : kEndings) {
    RunOptions options;
    options.replacedFiles = {{"/etc/nsswitch.conf", &c == &kEndings[0] ? filesOnly : withDns},
                             {"/etc/resolv.conf", resolver}};
    std::vector<std::string> arguments = MailArguments();
    arguments[5] = "relay.invalid";
    std::map<std::string, std::string> result = RunBothModes(c, arguments, options);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(result["result"], c.result);
    EXPECT_EQ(result["step"], c.where);
    EXPECT_EQ(result["relay"], "relay.invalid");
    EXPECT_NE(result["detail"], "null");
  }
  ::close(dropper);
}

}  // namespace
