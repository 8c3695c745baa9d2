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

// Sends one RCPT TO for each line of the recipient file.
bool SendRecipientFile(Connection& connection) {
  platform::TextFileReader reader;
  if (!reader.Open(Settings.MailToInputFile.c_str())) {
    return AbortDelivery(connection, "Failed to open the MailToInputFile for reading");
  }
  char line[kMaxRecipientLength + 2];
  char CommandBuffer[kCommandBufferCapacity];
  char LineBuffer[kLineBufferCapacity];
  for (unsigned long number = 1;; ++number) {
    platform::TextFileReader::Line read = reader.ReadLine(line, sizeof line);
    if (read.failed) return AbortDelivery(connection, "Failed to read the MailToInputFile");
    if (read.length == 0) return true;
    std::string_view recipient(line, read.lineEnd ? read.length - 1 : read.length);
    if (recipient.size() > kMaxRecipientLength) {
      (void)FormatText(LineBuffer, sizeof LineBuffer, "Line %lu of the MailToInputFile is longer than %lu characters", number,
                 static_cast<unsigned long>(kMaxRecipientLength));
      return AbortDelivery(connection, LineBuffer);
    }
    if (recipient.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
      (void)FormatText(LineBuffer, sizeof LineBuffer, "Line %lu of the MailToInputFile holds a CR or zero byte", number);
      return AbortDelivery(connection, LineBuffer);
    }
    (void)FormatText(CommandBuffer, sizeof CommandBuffer, "RCPT TO: %.*s\r\n", static_cast<int>(recipient.size()), recipient.data());
    LogMessage(CommandBuffer, false);
    if (!SendCommand(connection, CommandBuffer)) return AbortDelivery(connection, "Error writing previous RCPT TO:");
    LogMessage("Last RCPT TO: OK", false);
    ExpectReply(connection, "250", connection.Bounds().command);
  }
}

}  // namespace

bool SayHelo(Connection& connection) {
  char CommandBuffer[kCommandBufferCapacity];
  (void)FormatText(CommandBuffer, sizeof CommandBuffer, "HELO %s\r\n", Settings.Helo.c_str());
  if (!SendCommand(connection, CommandBuffer)) return AbortDelivery(connection, "Error saying HELO");
  LogMessage("HELO was OK.", false);
  ExpectReply(connection, "250", connection.Bounds().command);
  return true;
}

bool SendEnvelope(Connection& connection) {
  const ReplyBounds& bounds = connection.Bounds();
  char CommandBuffer[kCommandBufferCapacity];
  char LineBuffer[kLineBufferCapacity];

  (void)FormatText(CommandBuffer, sizeof CommandBuffer, "MAIL FROM: %s\r\n", Settings.MailFrom.c_str());
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Sending %s", CommandBuffer);
  LogMessage(LineBuffer, false);
  if (!SendCommand(connection, CommandBuffer)) return AbortDelivery(connection, "Error writing MAIL FROM: tag");
  LogMessage("MAIL FROM: OK", false);
  ExpectReply(connection, "250", bounds.command);

  if (Settings.MailToInputFile.IsSet()) return SendRecipientFile(connection);

  (void)FormatText(CommandBuffer, sizeof CommandBuffer, "RCPT TO: %s\r\n", Settings.MailTo.c_str());
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Sending %s", CommandBuffer);
  LogMessage(LineBuffer, false);
  if (!SendCommand(connection, CommandBuffer)) return AbortDelivery(connection, "Error writing RCPT TO: tag");
  LogMessage("RCPT TO: OK", false);
  ExpectReply(connection, "250", bounds.command);
  return true;
}
