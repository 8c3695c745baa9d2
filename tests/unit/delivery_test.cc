// The delivery over an in-memory relay: failures that a real relay can hardly
// be made to show, and the reply bounds shortened to milliseconds.
#include <gtest/gtest.h>

#include <deque>

#include "smtp/delivery.h"
#include "test_files.h"
#include "unit/unit_support.h"

namespace {

using platform::IoResult;
using platform::IoStatus;

// Answers each send that ends a command with the next scripted reply.
struct InMemoryRelay {
  std::deque<std::string> replies;
  std::string received;
  std::string pending;  // the reply owed to the last command
  std::size_t failSendAfter = std::string::npos;

  ConnectionOps Ops() {
    ConnectionOps ops;
    ops.receive = [this](char* buffer, std::size_t capacity, int) -> IoResult {
      if (pending.empty()) {
        if (replies.empty()) return {IoStatus::kTimedOut, 0};
        pending = replies.front();
        replies.pop_front();
      }
      std::size_t count = std::min(capacity, pending.size());
      pending.copy(buffer, count);
      pending.erase(0, count);
      return {IoStatus::kDone, count};
    };
    ops.send = [this](const char* data, std::size_t length, int) -> IoResult {
      // The connection breaks at byte failSendAfter: a send takes what fits before it.
      if (received.size() >= failSendAfter) return {IoStatus::kFailed, 0};
      std::size_t count = std::min(length, failSendAfter - received.size());
      received.append(data, count);
      return {IoStatus::kDone, count};
    };
    ops.close = [] {};
    return ops;
  }
};

ReplyBounds ShortBounds() {
  ReplyBounds bounds;
  bounds.greeting = bounds.command = bounds.dataStart = bounds.send = bounds.endOfData = bounds.quit =
      Milliseconds(20);
  return bounds;
}

class DeliverySteps : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings.Helo.Assign("client.example.com");
    Settings.MailFrom.Assign("me@example.com");
    Settings.MailTo.Assign("you@example.com");
    Settings.From.Assign("Me <me@example.com>");
    Settings.To.Assign("You <you@example.com>");
    Settings.Subject.Assign("None");
    Settings.InputFile.Assign(dir_.Write("body.txt", "body\n"));
    relay_.replies = {"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"};
  }
  // The bytes of a delivery that the relay accepts, from a copy of the relay.
  std::string AcceptedWire() {
    InMemoryRelay accepting = relay_;
    Session session(accepting.Ops(), ShortBounds());
    return DeliverMessage(session).Ok() ? accepting.received : std::string();
  }

  CleanRun run_;
  TempDir dir_;
  InMemoryRelay relay_;
};

TEST_F(DeliverySteps, BodyFileGoneAtDelivery) {
  Settings.InputFile.Assign(dir_.path() + "/removed.txt");
  Session session(relay_.Ops(), ShortBounds());
  EXPECT_FALSE(DeliverMessage(session).Ok());
  EXPECT_EQ(CleanRun::Captured(), "-RyMail-FAIL, Failed to open the InputFile for reading\r\n");
  EXPECT_EQ(relay_.received.find("\r\n.\r\n"), std::string::npos) << "the message must not be ended";
}

TEST_F(DeliverySteps, RecipientFileGoneAtDelivery) {
  Settings.MailToInputFile.Assign(dir_.path() + "/removed.txt");
  Session session(relay_.Ops(), ShortBounds());
  EXPECT_FALSE(DeliverMessage(session).Ok());
  EXPECT_EQ(CleanRun::Captured(), "-RyMail-FAIL, Failed to open the MailToInputFile for reading\r\n");
  EXPECT_EQ(relay_.received.find("DATA"), std::string::npos);
}

TEST_F(DeliverySteps, SendFailuresNameTheirStep) {
  std::string wire = AcceptedWire();
  ASSERT_NE(wire, "");
  struct Case {
    std::size_t failAt;  // the first byte that cannot be sent
    const char* message;
  } cases[] = {
      {wire.find("HELO"), "Error saying HELO"},
      {wire.find("MAIL FROM"), "Error writing MAIL FROM: tag"},
      {wire.find("RCPT TO"), "Error writing RCPT TO: tag"},
      {wire.find("DATA"), "Error writing DATA"},
      {wire.find("Received:"), "Error writing Received: by"},
      {wire.find("Message-ID"), "Error writing Message ID"},
      {wire.find("Date:"), "Error writing Date"},
      {wire.find("X-Mailer"), "Error writing X-Mailer Info"},
      {wire.find("From:"), "Error writing FROM:"},
      {wire.find("To:"), "Error writing TO:"},
      {wire.find("Subject:"), "Error writing SUBJECT:"},
      {wire.find("body"), "Error writing a line from the InputFile"},
      {wire.rfind("\r\n.\r\n"), "Error sending . for EOF"},
  };
  for (const Case& c : cases) {
    CleanRun run;
    relay_ = InMemoryRelay();
    SetUp();
    relay_.failSendAfter = c.failAt;
    Session session(relay_.Ops(), ShortBounds());
    EXPECT_FALSE(DeliverMessage(session).Ok()) << c.message;
    EXPECT_EQ(CleanRun::Captured(), std::string("-RyMail-FAIL, ") + c.message + "\r\n");
    EXPECT_EQ(relay_.received, wire.substr(0, c.failAt));
  }
}

// Header lines go out together, yet the log reads as if each went out alone.
TEST_F(DeliverySteps, BatchedHeadersLogTheirStepsInOrder) {
  std::string wire = AcceptedWire();
  ASSERT_NE(wire, "");
  Settings.DebugEnabled = true;
  relay_.failSendAfter = wire.find("From:") + 2;
  Session session(relay_.Ops(), ShortBounds());
  EXPECT_FALSE(DeliverMessage(session).Ok());
  std::string console = CleanRun::Captured();
  EXPECT_EQ(console.substr(console.find("-RyMail-Info, Received 354")),
            "-RyMail-Info, Received 354 go\r\r\n\r\n"
            "-RyMail-Info, Received: by OK\r\n"
            "-RyMail-Info, Message ID OK\r\n"
            "-RyMail-Info, Date OK\r\n"
            "-RyMail-Info, X-Mailer Info OK\r\n"
            "-RyMail-FAIL, Error writing FROM:\r\n");
}

TEST_F(DeliverySteps, AcceptedMessageEndsWithQuit) {
  Session session(relay_.Ops(), ShortBounds());
  EXPECT_TRUE(DeliverMessage(session).Ok());
  EXPECT_EQ(relay_.received.substr(relay_.received.size() - 17), "body\r\n\r\n.\r\nQUIT\r\n");
}

// A relay that falls silent ends the delivery at the bound, as a failure a
// retry may mend, at the step that waited; after the end of data the outcome is unknown.
TEST_F(DeliverySteps, SilentRelayEndsTheDeliveryAtTheBound) {
  const Step kSteps[] = {Step::kGreeting, Step::kHelo, Step::kMail, Step::kRcpt, Step::kData, Step::kEndOfData};
  for (std::size_t answered = 0; answered < 6; ++answered) {
    SetUp();
    relay_.replies.resize(answered);
    Session session(relay_.Ops(), ShortBounds());
    StepResult result = DeliverMessage(session);
    EXPECT_TRUE(result.unexpected) << answered;
    EXPECT_EQ(result.step, kSteps[answered]) << answered;
    EXPECT_EQ(result.outcome, answered == 5 ? Outcome::kUnknown : Outcome::kTemporary) << answered;
  }
}

}  // namespace
