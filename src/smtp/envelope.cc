#include "platform/fixed_text.h"
#include "front/mail_settings.h"
#include "log/log.h"
#include "platform/text_stream.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"

namespace {

/// A recipient line holds at most this many characters besides its LF.
constexpr std::size_t kMaxRecipientLength = 254;

// Every command and log text here is a short text and one field or recipient line: it always fits.
static_assert(kCommandBufferCapacity > sizeof "MAIL FROM: \r\n" + kFieldCapacity);
static_assert(kCommandBufferCapacity > sizeof "RCPT TO: \r\n" + kMaxRecipientLength);
static_assert(kLineBufferCapacity > sizeof "Sending MAIL FROM: \r\n" + kFieldCapacity);
static_assert(kLineBufferCapacity > sizeof "Line  of the MailToInputFile is longer than  characters" + 2 * 20);

// The relay's answer to one RCPT TO, counted or recorded as a refusal.
StepResult ExpectRecipient(Session& session, std::string_view recipient) {
  StepResult result = ExpectReply(session, "250", session.Bounds().command, Step::kRcpt);
  if (result.Ok()) {
    ++session.report.accepted;
  } else {
    session.report.refused.push_back({std::string(recipient), result.reply});
  }
  return result;
}

// Sends one RCPT TO for each line of the recipient file.
StepResult SendRecipientFile(Session& session) {
  platform::TextFileReader reader;
  if (!reader.Open(Settings.MailToInputFile.c_str())) {
    return AbortDelivery(session, Outcome::kInput, Step::kRcpt, "Failed to open the MailToInputFile for reading");
  }
  char line[kMaxRecipientLength + 2];
  char CommandBuffer[kCommandBufferCapacity];
  char LineBuffer[kLineBufferCapacity];
  for (unsigned long number = 1;; ++number) {
    platform::TextFileReader::Line read = reader.ReadLine(line, sizeof line);
    if (read.failed) return AbortDelivery(session, Outcome::kInput, Step::kRcpt, "Failed to read the MailToInputFile");
    if (read.length == 0) return StepDone();
    std::string_view recipient(line, read.lineEnd ? read.length - 1 : read.length);
    if (recipient.size() > kMaxRecipientLength) {
      (void)FormatText(LineBuffer, sizeof LineBuffer, "Line %lu of the MailToInputFile is longer than %lu characters",
                       number, static_cast<unsigned long>(kMaxRecipientLength));
      return AbortDelivery(session, Outcome::kInput, Step::kRcpt, LineBuffer);
    }
    if (recipient.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
      (void)FormatText(LineBuffer, sizeof LineBuffer, "Line %lu of the MailToInputFile holds a CR or zero byte", number);
      return AbortDelivery(session, Outcome::kInput, Step::kRcpt, LineBuffer);
    }
    (void)FormatText(CommandBuffer, sizeof CommandBuffer, "RCPT TO: %.*s\r\n", static_cast<int>(recipient.size()),
                     recipient.data());
    LogMessage(CommandBuffer, false);
    if (!SendCommand(session, CommandBuffer)) {
      return AbortDelivery(session, ClassOfLoss(false), Step::kRcpt, "Error writing previous RCPT TO:");
    }
    LogMessage("Last RCPT TO: OK", false);
    if (StepResult result = ExpectRecipient(session, recipient); !result.Ok()) return result;
  }
}

}  // namespace

StepResult SayHelo(Session& session) {
  char CommandBuffer[kCommandBufferCapacity];
  (void)FormatText(CommandBuffer, sizeof CommandBuffer, "HELO %s\r\n", Settings.Helo.c_str());
  if (!SendCommand(session, CommandBuffer)) {
    return AbortDelivery(session, ClassOfLoss(false), Step::kHelo, "Error saying HELO");
  }
  LogMessage("HELO was OK.", false);
  return ExpectReply(session, "250", session.Bounds().command, Step::kHelo);
}

StepResult SendEnvelope(Session& session) {
  const ReplyBounds& bounds = session.Bounds();
  char CommandBuffer[kCommandBufferCapacity];
  char LineBuffer[kLineBufferCapacity];

  (void)FormatText(CommandBuffer, sizeof CommandBuffer, "MAIL FROM: %s\r\n", Settings.MailFrom.c_str());
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Sending %s", CommandBuffer);
  LogMessage(LineBuffer, false);
  if (!SendCommand(session, CommandBuffer)) {
    return AbortDelivery(session, ClassOfLoss(false), Step::kMail, "Error writing MAIL FROM: tag");
  }
  LogMessage("MAIL FROM: OK", false);
  if (StepResult result = ExpectReply(session, "250", bounds.command, Step::kMail); !result.Ok()) return result;

  if (Settings.MailToInputFile.IsSet()) return SendRecipientFile(session);

  (void)FormatText(CommandBuffer, sizeof CommandBuffer, "RCPT TO: %s\r\n", Settings.MailTo.c_str());
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Sending %s", CommandBuffer);
  LogMessage(LineBuffer, false);
  if (!SendCommand(session, CommandBuffer)) {
    return AbortDelivery(session, ClassOfLoss(false), Step::kRcpt, "Error writing RCPT TO: tag");
  }
  LogMessage("RCPT TO: OK", false);
  return ExpectRecipient(session, Settings.MailTo.view());
}
