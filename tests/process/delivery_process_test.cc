// The delivery as a relay sees it: the built program against a scripted relay.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <regex>

#include "process/process_fixture.h"

namespace {

using Then = RelayStep::Then;
using namespace std::string_literals;

// An accepting script with room for this many recipients.
std::vector<RelayStep> AcceptingScriptFor(int recipients) {
  std::vector<RelayStep> script = AcceptingScript();
  for (int i = 1; i < recipients; ++i) script.insert(script.begin() + 3, Answer("250 2.1.5 Ok\r\n"));
  return script;
}

class Delivery : public ProcessTest {};

TEST_F(Delivery, FileModeRecordsEveryStepAndTheWireIsExact) {
  ScriptedRelay relay(AcceptingScript());
  ASSERT_TRUE(relay.Listening());
  std::string log = dir_.path() + "/debug.log";
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-d", log});
  ProgramRun run = RunProgram(arguments, Environment());

  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "-RyMail-Info, Initializing Debug File [" + log + "]\r\n" + kSentLine);
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(MaskVolatile(relay.Received()),
            EnvelopeAndHeaders() + "Hello,\r\nthis is the body.\r\n\r\n.\r\nQUIT\r\n");
  EXPECT_EQ(MaskVolatile(ReadWholeFile(log)),
            "Initiated RyMail at <TIME>\r\n\r\n"
            "-RyMail-Info, Beginning Sockets Startup [WSAStartup]\r\n"
            "-RyMail-Info, Socket Startup Done\r\n"
            "-RyMail-Info, Valid Socket Found\r\n"
            "-RyMail-Info, Got hostbyname [localhost]\r\n"
            "-RyMail-Info, Found smtp Service\r\n"
            "-RyMail-Info, Connection to localhost established.\r\n"
            "-RyMail-Info, Received 220 relay.example.com ESMTP ready\r\r\n"
            "-RyMail-Info, HELO was OK.\r\n"
            "-RyMail-Info, Received 250 relay.example.com\r\r\n"
            "-RyMail-Info, Sending MAIL FROM: sender@example.com\r\r\n"
            "-RyMail-Info, MAIL FROM: OK\r\n"
            "-RyMail-Info, Received 250 2.1.0 Sender ok\r\r\n"
            "-RyMail-Info, Sending RCPT TO: rcpt@example.com\r\r\n"
            "-RyMail-Info, RCPT TO: OK\r\n"
            "-RyMail-Info, Received 250 2.1.5 Recipient ok\r\r\n" +
                std::string(kLogFromData));
}

TEST_F(Delivery, ScreenModeShowsInformationOnTheConsole) {
  ScriptedRelay relay(AcceptingScript());
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-d", "S", "-r", "replies@example.com", "-s", "Report"});
  ProgramRun run = RunProgram(arguments, Environment());

  EXPECT_EQ(run.status, 0);
  std::string output = run.output;
  EXPECT_EQ(output.rfind("-RyMail-Info, You're in SCREEN Debug Mode\r\n"
                         "-RyMail-Info, Beginning Sockets Startup [WSAStartup]\r\n",
                         0),
            0u);
  EXPECT_NE(output.find("-RyMail-Info, Received 250 2.1.0 Sender ok\r\r\n\r\n"), std::string::npos);
  EXPECT_NE(output.find("-RyMail-Info, FROM: OK\r\n-RyMail-Info, REPLYTO: OK\r\n-RyMail-Info, TO: OK\r\n"),
            std::string::npos);
  // The success line twice: once printed, once logged with its own line end and the added one.
  const std::string end = std::string(kSentLine) + "-RyMail-Info, Your mail has been sent.\r\n\r\n";
  EXPECT_EQ(output.substr(output.size() - end.size()), end);
  std::string wire = relay.Received();
  EXPECT_NE(wire.find("From: sender@example.com\r\nReply-To: replies@example.com\r\nTo: rcpt@example.com\r\n"
                      "Subject: Report\r\n\r\n"),
            std::string::npos);
}

TEST_F(Delivery, BodyGoesOutWithCrLfAndDotsStuffed) {
  struct Case {
    std::string file;
    std::string wire;
  } cases[] = {
      {"one\r\ntwo", "one\r\ntwo\r\n.\r\n"},
      {".\r\n..x\n", "..\r\n...x\r\n\r\n.\r\n"},
      {"", "\r\n.\r\n"},
      {"a\0b\r\nlone\rcr\n\x1Ahidden"s, "a\0b\r\nlone\rcr\r\n\r\n.\r\n"s},
  };
  for (const Case& c : cases) {
    ScriptedRelay relay(AcceptingScript());
    std::vector<std::string> arguments = MailArguments();
    arguments.back() = dir_.Write("case.txt", c.file);
    ProgramRun run = RunProgram(arguments, Environment());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(MaskVolatile(relay.Received()), EnvelopeAndHeaders() + c.wire + "QUIT\r\n") << c.file;
  }
}

TEST_F(Delivery, SettingsComeFromTheEnvironmentWhateverTheCase) {
  ScriptedRelay relay(AcceptingScriptFor(3));
  std::string recipients = dir_.Write("rcpt.txt", "one@example.com\r\n<two@example.com>\nthree@example.com");
  std::string log = dir_.path() + "/debug.log";
  ProgramRun run = RunProgram({"-d", log, "-l", recipients, "-i", body_},
                              Environment({"RYMAILFROM=<env@example.com>", "rygateway=127.0.0.1", "ryHelo=env-host",
                                           "rySubject=", "ryreplyto=r@x.y"}));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(MaskVolatile(relay.Received()),
            "HELO env-host\r\nMAIL FROM: <env@example.com>\r\n"
            "RCPT TO: one@example.com\r\nRCPT TO: <two@example.com>\r\nRCPT TO: three@example.com\r\nDATA\r\n" +
                ReceivedLine() +
                "Message-ID: <ID>\r\n"
                "Date: <DATE>\r\n"
                "X-Mailer: ryMail-V1.0 for DOS available at https://rymail.example.org/\r\n"
                "From: <env@example.com>\r\nReply-To: r@x.y\r\nTo: rymail-list@example.com\r\nSubject: \r\n\r\n"
                "Hello,\r\nthis is the body.\r\n\r\n.\r\nQUIT\r\n");
  std::string debug = ReadWholeFile(log);
  EXPECT_NE(debug.find("-RyMail-Info, Using MailToInputFile instead of MailTo value\r\n"), std::string::npos);
  EXPECT_NE(debug.find("-RyMail-Info, RCPT TO: one@example.com\r\r\n-RyMail-Info, Last RCPT TO: OK\r\n"),
            std::string::npos);
}

TEST_F(Delivery, UnexpectedRepliesEndTheRunWithoutTheSuccessLine) {
  struct Case {
    const char* name;
    std::size_t step;  // the reply replaced: 0 greeting, 1 HELO, ... 5 end of data
    RelayStep replacement;
    std::string wireEnd;  // what the relay last received
  } cases[] = {
      {"greeting 554", 0, Answer("554 go away\r\n"), ""},
      {"closed before HELO reply", 1, Hangup(), "HELO client.example.com\r\n"},
      {"reset before MAIL reply", 2, Hangup(Then::kReset), "MAIL FROM: sender@example.com\r\n"},
      {"recipient refused", 3, Answer("550 5.1.1 No such user\r\n"), "RCPT TO: rcpt@example.com\r\n"},
      {"DATA refused, no header sent", 4, Answer("503 5.5.1 No recipients\r\n"), "DATA\r\n"},
      {"message refused at end of data", 5, Answer("554 5.7.1 Rejected\r\n"), "\r\n.\r\n"},
      {"garbage", 1, Answer("hello there\r\n"), "HELO client.example.com\r\n"},
  };
  for (const Case& c : cases) {
    std::vector<RelayStep> script = AcceptingScript();
    script[c.step] = c.replacement;
    ScriptedRelay relay(script);
    ProgramRun run = RunProgram(MailArguments(), Environment());
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.output, kNotExpected) << c.name;
    std::string wire = relay.Received();
    EXPECT_TRUE(wire.size() >= c.wireEnd.size() && wire.compare(wire.size() - c.wireEnd.size(), std::string::npos,
                                                                c.wireEnd) == 0)
        << c.name << ": " << wire;
  }
}

TEST_F(Delivery, RepliesAreReadWhole) {
  std::vector<RelayStep> script = AcceptingScript();
  script[0] = AnswerInPieces({"220-relay.example.com first line\r\n", "220 relay.example.com ready\r\n"});
  std::string longText = "250-" + std::string(300, 'x') + "\r\n250 fine\r\n";
  script[1] = AnswerInPieces({longText.substr(0, 100), longText.substr(100, 1), longText.substr(101)});
  ScriptedRelay relay(script);
  std::string log = dir_.path() + "/debug.log";
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-d", log});
  ProgramRun run = RunProgram(arguments, Environment());

  EXPECT_EQ(run.status, 0) << run.output;
  std::string debug = ReadWholeFile(log);
  EXPECT_NE(debug.find("Received 220-relay.example.com first line\r\r\n220 relay.example.com ready\r\r\n"),
            std::string::npos);
  EXPECT_NE(debug.find("Received 250-" + std::string(300, 'x') + "\r\r\n250 fine\r\r\n"), std::string::npos);
}

TEST_F(Delivery, RecipientFileLinesAreCheckedBeforeTheyAreSent) {
  struct Case {
    const char* name;
    std::string file;
    std::string output;  // empty: delivered
    std::string recipients;
  } cases[] = {
      {"254 characters", std::string(254, 'a') + "\n", "", "RCPT TO: " + std::string(254, 'a') + "\r\n"},
      {"last line keeps its last character", "a@b.c\nd@e.f", "", "RCPT TO: a@b.c\r\nRCPT TO: d@e.f\r\n"},
      {"255 characters", "ok@example.com\n" + std::string(255, 'a') + "\n",
       "-RyMail-FAIL, Line 2 of the MailToInputFile is longer than 254 characters\r\n", "RCPT TO: ok@example.com\r\n"},
      {"lone CR", "a@b.c\rRCPT TO: evil@example.com\n",
       "-RyMail-FAIL, Line 1 of the MailToInputFile holds a CR or zero byte\r\n", ""},
      {"zero byte", "a@b.c\0x\n"s, "-RyMail-FAIL, Line 1 of the MailToInputFile holds a CR or zero byte\r\n",
       ""},
  };
  for (const Case& c : cases) {
    ScriptedRelay relay(AcceptingScriptFor(static_cast<int>(std::count(c.file.begin(), c.file.end(), '\n') + (c.file.back() != '\n'))));
    std::vector<std::string> arguments = MailArguments();
    arguments.insert(arguments.end(), {"-l", dir_.Write("rcpt.txt", c.file)});
    ProgramRun run = RunProgram(arguments, Environment());
    std::string wire = relay.Received();
    std::string envelope = "HELO client.example.com\r\nMAIL FROM: sender@example.com\r\n" + c.recipients;
    if (c.output.empty()) {
      EXPECT_EQ(run.status, 0) << c.name;
      EXPECT_EQ(wire.substr(0, envelope.size() + 6), envelope + "DATA\r\n") << c.name;
    } else {
      EXPECT_EQ(run.status, 1) << c.name;
      EXPECT_EQ(run.output, c.output + kFailedToSend) << c.name;
      EXPECT_EQ(wire, envelope) << c.name;
    }
  }
}

TEST_F(Delivery, EmptyRecipientFileGoesStraightToData) {
  std::vector<RelayStep> script = AcceptingScript();
  script[3] = Answer("503 5.5.1 Error: need RCPT command\r\n");
  ScriptedRelay relay(script);
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-l", dir_.Write("rcpt.txt", "")});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, kNotExpected);
  EXPECT_EQ(relay.Received(), "HELO client.example.com\r\nMAIL FROM: sender@example.com\r\nDATA\r\n");
}

TEST_F(Delivery, RelayThatCannotBeReached) {
  {
    // Nothing listens on port 25.
    ProgramRun run = RunProgram(MailArguments(), Environment());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, std::string("-RyMail-FAIL, Failed to connect to localhost\r\n") + kFailedToSend);
  }
  std::vector<std::string> arguments = MailArguments();
  arguments[5] = "relay.invalid";
  ProgramRun quiet = RunProgram(arguments, Environment());
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.output, kFailedToSend);

  arguments.insert(arguments.end(), {"-d", "s"});
  ProgramRun screen = RunProgram(arguments, Environment());
  EXPECT_EQ(screen.status, 1);
  EXPECT_EQ(screen.output,
            "-RyMail-Info, You're in SCREEN Debug Mode\r\n"
            "-RyMail-Info, Beginning Sockets Startup [WSAStartup]\r\n"
            "-RyMail-Info, Socket Startup Done\r\n"
            "-RyMail-Info, Valid Socket Found\r\n"
            "-RyMail-Info, Host relay.invalid is NULL\r\n" +
                std::string(kFailedToSend));
}

// Seconds since the epoch of a mail date ("Tue, 08 Dec 2026 03:48:12 +0530"), or -1.
long long ParseMailDate(const std::string& date) {
  char day[4], month[4], sign;
  int dayOfMonth, year, hour, minute, second, offset;
  if (std::sscanf(date.c_str(), "%3s, %d %3s %d %d:%d:%d %c%4d", day, &dayOfMonth, month, &year, &hour, &minute,
                  &second, &sign, &offset) != 9) {
    return -1;
  }
  const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::size_t at = months.find(month);
  if (at == std::string::npos || at % 3 != 0) return -1;
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = static_cast<int>(at / 3);
  fields.tm_mday = dayOfMonth;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  long long offsetSeconds = (offset / 100 * 3600 + offset % 100 * 60) * (sign == '-' ? -1 : 1);
  return static_cast<long long>(::timegm(&fields)) - offsetSeconds;
}

// The header's value in the wire bytes, or "".
std::string HeaderValue(const std::string& wire, const std::string& name) {
  std::size_t start = wire.find("\r\n" + name + ": ");
  if (start == std::string::npos) return "";
  start += name.size() + 4;
  return wire.substr(start, wire.find("\r\n", start) - start);
}

TEST_F(Delivery, MessageIdIsUniqueAndValidAndDateIsTheStartInAnyZone) {
  // RFC 5322 msg-id: "<" dot-atom-text "@" dot-atom-text ">".
  const std::string atom = "[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+";
  const std::regex msgId("<" + atom + "(\\." + atom + ")*@" + atom + "(\\." + atom + ")*>");
  struct Zone {
    const char* tz;
    const char* offset;
  } zones[] = {{"UTC0", "+0000"}, {"EST5", "-0500"}, {"IST-5:30", "+0530"}};
  std::vector<std::string> ids;
  for (const Zone& zone : zones) {
    ScriptedRelay relay(AcceptingScript());
    long long before = static_cast<long long>(std::time(nullptr));
    ProgramRun run = RunProgram(MailArguments(), {std::string("TZ=") + zone.tz, "ORGANIZATION=Example Org"});
    long long after = static_cast<long long>(std::time(nullptr));
    ASSERT_EQ(run.status, 0) << zone.tz;
    std::string wire = relay.Received();
    std::string id = HeaderValue(wire, "Message-ID");
    EXPECT_TRUE(std::regex_match(id, msgId)) << id;
    ids.push_back(id);
    std::string date = HeaderValue(wire, "Date");
    EXPECT_EQ(date.substr(date.size() - 5), zone.offset) << date;
    long long parsed = ParseMailDate(date);
    EXPECT_GE(parsed, before) << date;
    EXPECT_LE(parsed, after) << date;
    EXPECT_NE(wire.find(id + "\r\nDate: " + date + "\r\nX-Mailer: "), std::string::npos) << "right after the Message-ID";
  }
  EXPECT_NE(ids[0], ids[1]);
}

}  // namespace
