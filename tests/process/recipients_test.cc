// Many recipients as the built program meets them: Cc and Bcc, pipelined
// groups, a relay's recipient cap, and the account of refused recipients.
#include <algorithm>

#include "process/process_fixture.h"
#include "process/submission_relay.h"

namespace {

class Recipients : public ProcessTest {
 protected:
  // A delivery to the lines of a recipient file through a plain relay on port 25.
  std::vector<std::string> ListArguments(const std::vector<std::string>& recipients) const {
    std::string lines;
    for (const std::string& recipient : recipients) lines += recipient + "\n";
    std::vector<std::string> arguments = MailArguments();
    arguments[3] = "unused@example.com";
    arguments.insert(arguments.end(), {"-l", dir_.Write("list.txt", lines), "-d", log_});
    return arguments;
  }
  static SubmissionRelay::Options PlainRelay() {
    SubmissionRelay::Options options;
    options.port = 25;
    return options;
  }

  std::string log_ = dir_.path() + "/debug.log";
};

TEST_F(Recipients, CcAndBccFollowTheRecipientOnceEachAndOnlyCcIsAHeader) {
  SubmissionRelay relay(PlainRelay());
  std::vector<std::string> arguments = MailArguments();
  std::string cc = "Pat <pat@example.com>, rcpt@EXAMPLE.com ,\"Doe, J\" <j@example.com>";
  arguments.insert(arguments.end(), {"--cc", cc, "--bcc", "hidden@example.com, <pat@example.com>,"});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0) << run.output;
  std::string headers = EnvelopeAndHeaders();
  headers.replace(headers.find("RCPT TO: rcpt@example.com\r\n"), 27,
                  "RCPT TO: rcpt@example.com\r\nRCPT TO:<pat@example.com>\r\nRCPT TO:<j@example.com>\r\n"
                  "RCPT TO:<hidden@example.com>\r\n");
  headers.replace(headers.find("Subject:"), 0, "Cc: " + cc + "\r\n");
  EXPECT_EQ(MaskVolatile(relay.Plain()).substr(0, headers.size()), headers);
  ASSERT_EQ(relay.Deliveries().size(), 1u);
  EXPECT_EQ(relay.Deliveries()[0].size(), 4u);
}

TEST_F(Recipients, RefusalsCapsAndPipeliningEndAsTheyShould) {
  std::vector<std::string> many;
  for (int i = 1; i <= 250; ++i) many.push_back("r" + std::to_string(i) + "@example.com");
  const std::string sent = kSentLine;
  struct Case {
    const char* name;
    std::vector<std::string> extra;
    std::vector<std::string> recipients;
    std::map<std::string, std::string> refused;
    std::size_t cap;
    int status;
    int sysexits;
    std::string tail;  // the end of standard output
    std::vector<std::size_t> deliveries;  // recipients of each message taken
  } cases[] = {
      {"pipelined, one refused", {"--ehlo", "on", "--on-refused", "continue"}, {"a@example.com", "b@example.com",
       "c@example.com"}, {{"b@example.com", "550 5.1.1 No such user\r\n"}}, 0, 2, 2,
       sent + "-RyMail-FAIL, 1 of 3 recipients refused\r\n", {2}},
      {"lock-step, one refused", {"--on-refused", "continue"}, {"a@example.com", "b@example.com"},
       {{"a@example.com", "450 4.2.1 Try later\r\n"}}, 0, 2, 2, sent + "-RyMail-FAIL, 1 of 2 recipients refused\r\n",
       {1}},
      {"a cap of 100 over 250", {"--ehlo", "on", "--on-refused", "continue"}, many, {}, 100, 0, 0, sent,
       {100, 100, 50}},
      {"a cap of 100 over 250, lock-step", {"--on-refused", "continue"}, many, {}, 100, 0, 0, sent, {100, 100, 50}},
      {"all refused", {"--ehlo", "on", "--on-refused", "continue"}, {"a@example.com", "b@example.com"},
       {{"a@example.com", "550 5.1.1 No\r\n"}, {"b@example.com", "550 5.1.1 No\r\n"}}, 0, 1, 69,
       "-RyMail-FAIL, All 2 recipients were refused.\r\n" + std::string(kFailedToSend), {}},
      {"stop at the first refusal, pipelined", {"--ehlo", "on"}, {"a@example.com", "b@example.com"},
       {{"a@example.com", "550 5.1.1 No\r\n"}}, 0, 1, 69, kNotExpected, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool sysexits : {false, true}) {
      SubmissionRelay::Options options = PlainRelay();
      options.refusedRecipients = c.refused;
      options.recipientCap = c.cap;
      SubmissionRelay relay(options);
      std::vector<std::string> arguments = ListArguments(c.recipients);
      arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
      std::string resultFile = dir_.path() + "/result.json";
      arguments.insert(arguments.end(), {"--result-file", resultFile});
      if (sysexits) arguments.insert(arguments.end(), {"--exit-codes", "sysexits"});
      ProgramRun run = RunProgram(arguments, Environment());
      EXPECT_EQ(run.status, sysexits ? c.sysexits : c.status);
      EXPECT_EQ(run.output.substr(run.output.size() - std::min(run.output.size(), c.tail.size())), c.tail);
      std::vector<std::string> everyone;
      std::vector<std::size_t> sizes;
      for (const std::vector<std::string>& message : relay.Deliveries()) {
        sizes.push_back(message.size());
        everyone.insert(everyone.end(), message.begin(), message.end());
      }
      EXPECT_EQ(sizes, c.deliveries);
      // Each recipient gets the message once, and none that was refused.
      std::sort(everyone.begin(), everyone.end());
      EXPECT_EQ(std::adjacent_find(everyone.begin(), everyone.end()), everyone.end());
      for (const auto& [address, reply] : c.refused) {
        EXPECT_FALSE(std::binary_search(everyone.begin(), everyone.end(), address)) << address;
      }
      if (c.deliveries.empty()) {
        EXPECT_EQ(relay.Plain().find("Subject:"), std::string::npos);
      }
      // The result lists the refused recipients (with "stop", the one that ended the run).
      std::string refused;
      for (const auto& [address, reply] : c.refused) {
        if (!refused.empty()) refused += ",";
        refused += "{\"address\":\"" + address + "\",\"reply\":\"" + reply.substr(0, reply.size() - 2) + "\\r\\n\"}";
        if (c.tail == kNotExpected) break;
      }
      std::map<std::string, std::string> result = ParseJsonLine(ReadWholeFile(resultFile));
      EXPECT_EQ(result["recipients"],
                "{\"accepted\":" + std::to_string(everyone.size()) + ",\"refused\":[" + refused + "]}");
    }
  }
}

// Pipelined: every command of a group is out before the first reply is read.
TEST_F(Recipients, PipelinedGroupGoesOutBeforeItsReplies) {
  SubmissionRelay relay(PlainRelay());
  std::vector<std::string> arguments = ListArguments({"a@example.com", "b@example.com"});
  arguments.insert(arguments.end(), {"--ehlo", "on", "--on-refused", "continue"});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0) << run.output;
  std::string log = MaskVolatile(ReadWholeFile(log_));
  std::string group =
      "-RyMail-Info, Sending MAIL FROM: sender@example.com\r\r\n"
      "-RyMail-Info, MAIL FROM: OK\r\n"
      "-RyMail-Info, RCPT TO: a@example.com\r\r\n"
      "-RyMail-Info, Last RCPT TO: OK\r\n"
      "-RyMail-Info, RCPT TO: b@example.com\r\r\n"
      "-RyMail-Info, Last RCPT TO: OK\r\n"
      "-RyMail-Info, Sending DATA\r\n"
      "-RyMail-Info, DATA OK\r\n"
      "-RyMail-Info, Received 250 2.1.0 Ok\r\r\n"
      "-RyMail-Info, Received 250 2.1.5 Ok\r\r\n"
      "-RyMail-Info, Received 250 2.1.5 Ok\r\r\n"
      "-RyMail-Info, Received 354 End data with <CR><LF>.<CR><LF>\r\r\n"
      "-RyMail-Info, Received: by OK\r\n";
  EXPECT_NE(log.find(group), std::string::npos) << log;
  EXPECT_EQ(relay.Plain().find("EHLO client.example.com\r\nMAIL FROM"), 0u);
}

// A relay that refuses EHLO is greeted with HELO, and nothing is pipelined.
TEST_F(Recipients, RefusedEhloFallsBackToHelo) {
  SubmissionRelay::Options options = PlainRelay();
  options.answers = {{"EHLO", "502 5.5.1 Command not implemented\r\n"}};
  SubmissionRelay relay(options);
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"--ehlo", "on"});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(relay.Plain().find("EHLO client.example.com\r\nHELO client.example.com\r\nMAIL FROM"), 0u);
}

}  // namespace
