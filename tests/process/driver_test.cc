// The front end as a user meets it: help, option and completion failures,
// each with its exact text and exit status, before any network activity.
#include "process/process_fixture.h"

namespace {

class Front : public ProcessTest {};

TEST_F(Front, HelpForNoArgumentsOrLeadingH) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                    std::vector<std::string>{"-H", "-x", "whatever", "-s"}}) {
    ProgramRun run = RunProgram(arguments, Environment());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output.rfind("\r\nRyMail Help  - Version 1.0\r\n\r\nuseage - RyMail [-H] -s SUBJECT", 0), 0u);
    const std::string end = "SOUL!\r\nFor help, Use (RyMail -H | more)\r\n\r\n";
    EXPECT_EQ(run.output.substr(run.output.size() - end.size()), end);
    EXPECT_EQ(run.output.find("\n\n"), std::string::npos) << "every LF goes out as CR LF";
    EXPECT_EQ(run.errors, "");
  }
}

// --help is the help screen, unchanged, then the later settings; --version says which TLS library.
TEST_F(Front, LongHelpAndVersion) {
  ProgramRun screen = RunProgram({"-H"}, Environment());
  ProgramRun help = RunProgram({"--help", "-x"}, Environment());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output.rfind(screen.output, 0), 0u);
  for (const char* setting : {"--port PORT [ryPort]", "--exit-codes", "--on-refused", "--charset", "--dry-run", "--ip",
                              "--password-command"}) {
    EXPECT_NE(help.output.find(setting, screen.output.size()), std::string::npos) << setting;
  }
  ProgramRun version = RunProgram({"--version"}, Environment());
  EXPECT_EQ(version.status, 0);
  std::string library = RunsUnderWine() ? "Schannel" : "OpenSSL 3.";
  EXPECT_EQ(version.output.rfind("RyMail 1.0 (TLS: " + library, 0), 0u) << version.output;
  EXPECT_EQ(version.output.substr(version.output.size() - 3), ")\r\n");
}

TEST_F(Front, OptionFailuresAreFramedAndEndWithStatusOne) {
  std::string longValue(128, 'a');
  struct Case {
    std::vector<std::string> arguments;
    std::string output;
  } cases[] = {
      {{"-s"}, "\r\n-RyMail-FAIL, Missing Subject after -s\r\n\r\n"},
      {{"-s", "x", "-T"}, "\r\n-RyMail-FAIL, Missing To after -T\r\n\r\n"},
      {{"-i"}, "\r\n-RyMail-F-FAIL, Missing InputFile after -i\r\n\r\n"},
      {{"-l"}, "\r\n-RyMail-F-FAIL, Missing InputFile after -l\r\n\r\n"},
      {{"-d"}, "\r\n-RyMail-FAIL, Missing DebugFile after -d\r\n\r\n"},
      {{"-x", "value"}, "\r\n-RyMail-FAIL, Don't understand [-x]\r\n\r\n"},
      {{"-s", "x", "-H", "y"}, "\r\n-RyMail-FAIL, Don't understand [-H]\r\n\r\n"},
      {{"-subject", "y"}, "\r\n-RyMail-FAIL, Don't understand [-subject]\r\n\r\n"},
      {{"-i", "/nonexistent/body"}, "\r\n-RyMail-FAIL, Failed to open input file\r\n\r\n"},
      {{"-i", "/tmp"}, "\r\n-RyMail-FAIL, Failed to open input file\r\n\r\n"},
      {{"-l", "/nonexistent/list"}, "\r\n-RyMail-FAIL, Failed to open input file after -l\r\n\r\n"},
      {{"-s", "Hi\r\nBcc: x@example.com"}, "\r\n-RyMail-FAIL, The Subject value holds a line break.\r\n\r\n"},
      {{"-f", "a@b.c\nRCPT TO: evil"}, "\r\n-RyMail-FAIL, The MailFrom value holds a line break.\r\n\r\n"},
      {{"-t", longValue}, "\r\n-RyMail-FAIL, The MailTo value is longer than 127 characters.\r\n\r\n"},
      {{"-d", "/nonexistent/debug.log"},
       "-RyMail-Info, Initializing Debug File [/nonexistent/debug.log]\r\n"
       "-RyMail-FAIL, Failed to open the debug file [/nonexistent/debug.log].\r\n"},
  };
  for (const Case& c : cases) {
    ProgramRun run = RunProgram(c.arguments, Environment());
    EXPECT_EQ(run.status, 1) << c.arguments[0];
    EXPECT_EQ(run.output, c.output) << c.arguments[0];
    EXPECT_EQ(run.errors, "");
  }
}

TEST_F(Front, CompletionFailuresNameTheMissingSetting) {
  std::string body = body_;
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    std::string output;
  } cases[] = {
      {{"-t", "rcpt@example.com"}, {}, "\r\n-RyMail-FAIL, Failed to get a valid MailFrom value.\r\n\r\n"},
      {{"-f", "a@bc"}, {}, "\r\n-RyMail-FAIL, Failed to get a valid MailFrom value.\r\n\r\n"},
      {{"-f", "a@bc"}, {"ryMailFrom=x@y"}, "\r\n-RyMail-FAIL, Failed to get a valid MailFrom value.\r\n\r\n"},
      {{"-f", "sender@example.com"}, {}, "\r\n-RyMail-FAIL, Failed to get a valid MailTo value.\r\n\r\n"},
      {{"-f", "sender@example.com", "-t", "r@example.com"},
       {},
       "\r\n-RyMail-FAIL, Failed to get a valid Gateway address.\r\n\r\n"},
      {{"-f", "sender@example.com", "-t", "r@example.com", "-g", "localhost", "-h", "ab"},
       {},
       "\r\n-RyMail-FAIL, Failed to get a valid Helo value.\r\n\r\n"},
      {{"-f", "sender@example.com", "-t", "r@example.com", "-g", "localhost", "-h", "abc"},
       {},
       "\r\n-RyMail-FAIL, Failed to get a valid Input File.\r\n\r\n"},
      {{"-f", "sender@example.com", "-t", "r@example.com"},
       {"ryGateway=relay\n.example.com"},
       "\r\n-RyMail-FAIL, The Gateway value holds a line break.\r\n\r\n"},
      {{"-f", "sender@example.com", "-t", "r@example.com", "-g", "localhost", "-h", "abc", "-i", body},
       {"ryDebugFile="},
       "-RyMail-Info, Initializing Debug File []\r\n-RyMail-FAIL, Failed to open the debug file [].\r\n"},
  };
  for (const Case& c : cases) {
    ProgramRun run = RunProgram(c.arguments, Environment(c.environment));
    EXPECT_EQ(run.status, 1) << c.output;
    EXPECT_EQ(run.output, c.output);
  }
}

TEST_F(Front, ValuesOfMaximumLengthAreKeptWhole) {
  ScriptedRelay relay(AcceptingScript());
  std::string subject(127, 's');
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-s", subject});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(relay.Received().find("Subject: " + subject + "\r\n\r\n"), std::string::npos);
}

}  // namespace
