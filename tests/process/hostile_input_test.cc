// Input a careless or hostile caller can give: odd files, huge files and
// values, many arguments. Each run must end (no hang) with the right text.
#include <sys/stat.h>
#include <unistd.h>

#include "process/process_fixture.h"

namespace {

class HostileInput : public ProcessTest {
 protected:
  // The wire bytes after the header block, up to QUIT.
  static std::string BodyOnWire(const std::string& wire) {
    std::size_t start = wire.find("\r\n\r\n") + 4;
    return wire.substr(start, wire.rfind("QUIT\r\n") - start);
  }
};

TEST_F(HostileInput, SpecialFilesAsTheBody) {
  std::string fifo = dir_.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/null")}) {
    ScriptedRelay relay(AcceptingScript());
    std::vector<std::string> arguments = MailArguments();
    arguments.back() = path;
    ProgramRun run = RunProgram(arguments, Environment(), 30);
    EXPECT_FALSE(run.timedOut) << path;
    EXPECT_EQ(run.status, 0) << path;
    EXPECT_EQ(BodyOnWire(relay.Received()), "\r\n.\r\n") << "no writer, nothing to read: " << path;
  }
}

TEST_F(HostileInput, BodyFromStandardInput) {
  ScriptedRelay relay(AcceptingScript());
  std::vector<std::string> arguments = MailArguments();
  arguments.back() = "/dev/stdin";
  ProgramRun run = RunProgram(arguments, Environment(), 30, "df output\r\n.hidden\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(BodyOnWire(relay.Received()), "df output\r\n..hidden\r\n\r\n.\r\n");
}

TEST_F(HostileInput, UnreadableFiles) {
  std::string locked = dir_.Write("locked.txt", "secret\n");
  ::chmod(locked.c_str(), 0);
  RunOptions unprivileged;  // root would read it anyway
  unprivileged.unprivileged = true;
  ProgramRun body = RunProgram({"-i", locked}, Environment(), unprivileged);
  EXPECT_EQ(body.output, "\r\n-RyMail-FAIL, Failed to open input file\r\n\r\n");
  ProgramRun list = RunProgram({"-l", locked}, Environment(), unprivileged);
  EXPECT_EQ(list.output, "\r\n-RyMail-FAIL, Failed to open input file after -l\r\n\r\n");
}

TEST_F(HostileInput, DebugFileThatIsAnInputFileIsRefusedUntouched) {
  std::string recipients = dir_.Write("rcpt.txt", "a@example.com\n");
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"-d", body_, "-i", body_}, {"-i", body_, "-d", body_}, {"-l", recipients, "-d", recipients}}) {
    std::string named = arguments[1] == "-d" || arguments[0] == "-d" ? arguments[1] : arguments[3];
    ProgramRun run = RunProgram(arguments, Environment());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "-RyMail-Info, Initializing Debug File [" + named + "]\r\n\r\n-RyMail-FAIL, The debug file [" +
                              named + "] is an input file.\r\n\r\n");
  }
  EXPECT_EQ(ReadWholeFile(body_), "Hello,\nthis is the body.\n");
  EXPECT_EQ(ReadWholeFile(recipients), "a@example.com\n");
}

TEST_F(HostileInput, DebugFileThatCannotBeWritten) {
  ScriptedRelay relay(AcceptingScript());
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-d", "/dev/full"});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0) << "records are dropped, the mail goes";
  EXPECT_EQ(run.output, std::string("-RyMail-Info, Initializing Debug File [/dev/full]\r\n") + kSentLine);
}

TEST_F(HostileInput, HugeLinesAndLists) {
  {
    ScriptedRelay relay(AcceptingScript());
    std::vector<std::string> arguments = MailArguments();
    arguments.back() = dir_.Write("line.txt", std::string(10 << 20, 'L'));
    ProgramRun run = RunProgram(arguments, Environment());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(BodyOnWire(relay.Received()), std::string(10 << 20, 'L') + "\r\n.\r\n");
  }
  constexpr int kRecipients = 100000;
  std::string list;
  std::vector<RelayStep> script = AcceptingScript();
  for (int i = 0; i < kRecipients; ++i) list += "user" + std::to_string(i) + "@example.com\n";
  script.insert(script.begin() + 3, kRecipients - 1, Answer("250 ok\r\n"));
  ScriptedRelay relay(script);
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-l", dir_.Write("many.txt", list)});
  ProgramRun run = RunProgram(arguments, Environment(), 120);
  EXPECT_EQ(run.status, 0);
  std::string wire = relay.Received();
  std::size_t count = 0;
  for (std::size_t at = 0; (at = wire.find("RCPT TO: ", at)) != std::string::npos; ++at) ++count;
  EXPECT_EQ(count, static_cast<std::size_t>(kRecipients));
}

TEST_F(HostileInput, ValuesOfEveryLengthAndByte) {
  struct Case {
    std::string value;
    bool accepted;
  } cases[] = {
      {"", true},  // an empty Subject is completed to "None"
      {std::string(127, 's'), true},
      {std::string(128, 's'), false},
      {std::string(100000, 's'), false},
      {"tab\tescape\x1b bell\x07", true},
      {"caf\xc3\xa9 \xff\xfe", true},
      {"cr\rhere", false},
      {"lf\nhere", false},
  };
  for (const Case& c : cases) {
    // A Windows command line or variable holds at most 32,767 characters, and
    // wine hands arguments over in the ANSI code page.
    if (RunsUnderWine() && (c.value.size() > 32000 || c.value.find('\xff') != std::string::npos)) continue;
    for (bool fromEnvironment : {false, true}) {
      std::vector<std::string> arguments = MailArguments();
      std::vector<std::string> environment = Environment();
      if (fromEnvironment) {
        environment.push_back("rySubject=" + c.value);
      } else {
        arguments.insert(arguments.end(), {"-s", c.value});
      }
      std::string shown = c.value.substr(0, 20);
      if (!c.accepted) {
        // Refused before any network activity: with no relay, a connect would say so.
        ProgramRun run = RunProgram(arguments, environment);
        EXPECT_EQ(run.status, 1) << shown;
        EXPECT_EQ(run.output.find("\r\n-RyMail-FAIL, The Subject value "), 0u) << run.output.substr(0, 200);
        continue;
      }
      ScriptedRelay relay(AcceptingScript());
      ProgramRun run = RunProgram(arguments, environment);
      EXPECT_EQ(run.status, 0) << shown;
      std::string subject = c.value.empty() && !fromEnvironment ? "None" : c.value;
      EXPECT_NE(relay.Received().find("Subject: " + subject + "\r\n\r\n"), std::string::npos) << shown;
    }
  }
}

TEST_F(HostileInput, ThousandsOfArguments) {
  ScriptedRelay relay(AcceptingScript());
  std::vector<std::string> arguments;
  // 4,000 arguments; they fit a Windows command line too.
  for (int i = 0; i < 2000; ++i) {
    arguments.emplace_back("-s");
    arguments.emplace_back("s");
    arguments.back() += std::to_string(i);
  }
  std::vector<std::string> mail = MailArguments();
  arguments.insert(arguments.end(), mail.begin(), mail.end());
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(relay.Received().find("Subject: s1999\r\n"), std::string::npos);

  arguments.push_back("-Z");
  ProgramRun odd = RunProgram(arguments, Environment());
  EXPECT_EQ(odd.output, "\r\n-RyMail-FAIL, Don't understand [-Z]\r\n\r\n");
}

}  // namespace
