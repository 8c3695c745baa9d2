// The text as the built program sends it: the body or the recipients from
// standard input, a declared character set, and the dry run.
#include "process/process_fixture.h"

namespace {

class Text : public ProcessTest {
 protected:
  // What the relay received after the 354, the end of data included.
  static std::string Message(const std::string& received) {
    std::size_t start = received.find("DATA\r\n");
    std::size_t end = received.find("\r\n.\r\n");
    if (start == std::string::npos || end == std::string::npos) return {};
    return received.substr(start + 6, end + 5 - start - 6);
  }
};

TEST_F(Text, StandardInputIsTheBodyOrTheRecipientsWithTheSameTextRules) {
  struct Case {
    const char* name;
    std::vector<std::string> change;  // option, value
    std::string input;
    std::string wire;  // the part of the relay's bytes that tells
  } cases[] = {
      {"body", {"-i", "-"}, "one\r\ntwo\r\nlone\rCR\n.dot\n\x1a" "after Ctrl-Z\n",
       "\r\n\r\none\r\ntwo\r\nlone\rCR\r\n..dot\r\n\r\n.\r\n"},
      {"empty body", {"-i", "-"}, "", "Subject: None\r\n\r\n\r\n.\r\n"},
      {"recipients", {"-l", "-"}, "a@example.com\r\nb@example.com\n",
       "RCPT TO: a@example.com\r\nRCPT TO: b@example.com\r\nDATA\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<RelayStep> script = AcceptingScript();
    if (c.change[0] == "-l") script.insert(script.begin() + 3, Answer("250 2.1.5 Recipient ok\r\n"));
    ScriptedRelay relay(script, 5000);
    std::vector<std::string> arguments = MailArguments();
    arguments.insert(arguments.end(), c.change.begin(), c.change.end());
    RunOptions options;
    options.standardInput = c.input;
    ProgramRun run = RunProgram(arguments, Environment(), options);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(relay.Received().find(c.wire), std::string::npos) << relay.Received();
  }
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-i", "-", "-l", "-"});
  ProgramRun both = RunProgram(arguments, Environment());
  EXPECT_EQ(both.output,
            "\r\n-RyMail-FAIL, Standard input cannot be both the InputFile and the MailToInputFile.\r\n\r\n");
  EXPECT_EQ(both.status, 1);
}

// A declared character set: quoted-printable unless the relay takes 8-bit
// text after EHLO; 8-bit addresses only with SMTPUTF8.
TEST_F(Text, CharsetDeclaresTheTextAndChoosesItsEncoding) {
  std::string utf8Body = dir_.Write("utf8.txt", "Gr\xc3\xbc\xc3\x9f" "e = 100%\n");
  std::string longLine = dir_.Write("long.txt", std::string(999, 'x') + "\n");
  const std::string eightBit = "250-relay.example.com\r\n250-8BITMIME\r\n250 SMTPUTF8\r\n";
  const std::string plainEhlo = "250 relay.example.com\r\n";
  struct Case {
    const char* name;
    std::string body;
    std::string ehlo;         // the EHLO reply, or empty for HELO
    std::string from;
    std::string mailFrom;     // MAIL FROM as sent, or the failure line
    std::string encoding;     // Content-Transfer-Encoding, or empty
    std::string bodyOnWire;   // the start of the body as sent
  } cases[] = {
      {"8BITMIME offered", utf8Body, eightBit, "sender@example.com",
       "MAIL FROM: <sender@example.com> BODY=8BITMIME\r\n", "8bit", "Gr\xc3\xbc\xc3\x9f" "e = 100%\r\n"},
      {"HELO", utf8Body, "", "sender@example.com", "MAIL FROM: sender@example.com\r\n", "quoted-printable",
       "Gr=C3=BC=C3=9Fe =3D 100%\r\n"},
      {"not offered", utf8Body, plainEhlo, "<sender@example.com>", "MAIL FROM: <sender@example.com>\r\n",
       "quoted-printable", "Gr=C3=BC=C3=9Fe =3D 100%\r\n"},
      {"a line over 998", longLine, eightBit, "sender@example.com", "MAIL FROM: sender@example.com\r\n",
       "quoted-printable", std::string(75, 'x') + "=\r\n"},
      {"8-bit sender, SMTPUTF8 offered", utf8Body, eightBit, "j\xc3\xb6rg@example.com",
       "MAIL FROM: <j\xc3\xb6rg@example.com> BODY=8BITMIME SMTPUTF8\r\n", "8bit", "Gr"},
      {"8-bit sender, no SMTPUTF8", utf8Body, plainEhlo, "j\xc3\xb6rg@example.com",
       "-RyMail-FAIL, The address j\xc3\xb6rg@example.com needs SMTPUTF8, which the relay does not offer\r\n", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Windows passes arguments in the ANSI code page: an 8-bit one is not the UTF-8 given here.
    if (RunsUnderWine() && c.from != "sender@example.com" && c.from != "<sender@example.com>") continue;
    std::vector<RelayStep> script = AcceptingScript();
    if (!c.ehlo.empty()) script[1] = Answer(c.ehlo);
    ScriptedRelay relay(script, 5000);
    std::vector<std::string> arguments = MailArguments();
    arguments[1] = c.from;
    arguments.insert(arguments.end(), {"-i", c.body, "--charset", "utf-8", "--exit-codes", "sysexits"});
    if (!c.ehlo.empty()) arguments.insert(arguments.end(), {"--ehlo", "on"});
    ProgramRun run = RunProgram(arguments, Environment());
    std::string received = relay.Received();
    if (c.encoding.empty()) {
      EXPECT_EQ(run.status, 78);
      EXPECT_EQ(run.output.find(c.mailFrom), 0u) << run.output;
      EXPECT_EQ(received.find("MAIL FROM"), std::string::npos);
      continue;
    }
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(received.find(c.mailFrom), std::string::npos) << received;
    std::string mime = "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: " +
                       c.encoding + "\r\n\r\n" + c.bodyOnWire;
    EXPECT_NE(received.find("Subject: None\r\n" + mime), std::string::npos) << received;
  }
}

// A dry run writes exactly what a relay would receive after DATA, and sends nothing.
TEST_F(Text, DryRunWritesTheBytesARelayWouldReceive) {
  std::vector<std::string> arguments = MailArguments();
  // Windows passes arguments in the ANSI code page: there the 8-bit texts come from the body only.
  std::string to = RunsUnderWine() ? "\"Muller, J\" <rcpt@example.com>" : "\"M\xc3\xbcller, J\" <rcpt@example.com>";
  arguments.insert(arguments.end(), {"--charset", "utf-8", "-s", RunsUnderWine() ? "Gruesse" : "Gr\xc3\xbc\xc3\x9f" "e",
                                     "-T", to, "-i", dir_.Write("body.txt", "caf\xc3\xa9\n.\n")});
  ScriptedRelay relay(AcceptingScript(), 5000);
  ProgramRun sent = RunProgram(arguments, Environment());
  ASSERT_EQ(sent.status, 0) << sent.output;
  std::string wire = Message(relay.Received());

  std::string log = dir_.path() + "/dry.log";
  arguments[5] = "relay.invalid";  // no lookup is made
  arguments.insert(arguments.end(), {"--dry-run", "-", "-d", log});
  ProgramRun dry = RunProgram(arguments, Environment());
  EXPECT_EQ(dry.status, 0) << dry.output;
  std::string said = "-RyMail-Info, Dry run: the message was written to -.\r\n";
  std::size_t at = dry.output.find(said);
  ASSERT_NE(at, std::string::npos) << dry.output;
  EXPECT_EQ(MaskVolatile(dry.output.substr(at + said.size())), MaskVolatile(wire));
  std::string header = RunsUnderWine() ? "To: " + to : "To: =?utf-8?B?TcO8bGxlciwgSg==?= <rcpt@example.com>";
  EXPECT_NE(wire.find(header + "\r\n"), std::string::npos) << wire;
  EXPECT_NE(ReadWholeFile(log).find("MAIL FROM: sender@example.com\r\r\n-RyMail-Info, RCPT TO: rcpt@example.com\r\r\n"),
            std::string::npos);
}

}  // namespace
