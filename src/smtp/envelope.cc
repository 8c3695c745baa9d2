#include "front/fixed_text.h"
#include "front/mail_settings.h"
#include "log/log.h"
#include "platform/text_stream.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"

namespace {

/// A recipient line holds at most this many characters besides its LF.
constexpr std::size_t kMaxRecipientLength = 254;

// Sends one RCPT TO for each line of the recipient file.
bool SendRecipientFile(Connection& connection) {
  platform::TextFileReader reader;
  if (!reader.Open(Settings.MailToInputFile.c_str())) {
    return AbortDelivery(connection, "Failed to open the MailToInputFile for reading");
  }
  char line[kMaxRecipientLength + 2];
  char command[kCommandCapacity];
  char problem[kLineCapacity];
  for (unsigned long number = 1;; ++number) {
    platform::TextFileReader::Line read = reader.ReadLine(line, sizeof line);
    if (read.failed) return AbortDelivery(connection, "Failed to read the MailToInputFile");
    if (read.length == 0) return true;
    std::string_view recipient(line, read.lineEnd ? read.length - 1 : read.length);
    if (recipient.size() > kMaxRecipientLength) {
      FormatText(problem, sizeof problem, "Line %lu of the MailToInputFile is longer than %lu characters", number,
                 static_cast<unsigned long>(kMaxRecipientLength));
      return AbortDelivery(connection, problem);
    }
    if (recipient.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
      FormatText(problem, sizeof problem, "Line %lu of the MailToInputFile holds a CR or zero byte", number);
      return AbortDelivery(connection, problem);
    }
    FormatText(command, sizeof command, "RCPT TO: %.*s\r\n", static_cast<int>(recipient.size()), recipient.data());
    LogMessage(command, false);
    if (!SendCommand(connection, command)) return AbortDelivery(connection, "Error writing previous RCPT TO:");
    LogMessage("Last RCPT TO: OK", false);
    ExpectReply(connection, "250", connection.Bounds().command);
  }
}

}  // namespace

bool SendEnvelope(Connection& connection) {
  const ReplyBounds& bounds = connection.Bounds();
  char command[kCommandCapacity];
  char line[kLineCapacity];

  FormatText(command, sizeof command, "HELO %s\r\n", Settings.Helo.c_str());
  if (!SendCommand(connection, command)) return AbortDelivery(connection, "Error saying HELO");
  LogMessage("HELO was OK.", false);
  ExpectReply(connection, "250", bounds.command);

  FormatText(command, sizeof command, "MAIL FROM: %s\r\n", Settings.MailFrom.c_str());
  FormatText(line, sizeof line, "Sending %s", command);
  LogMessage(line, false);
  if (!SendCommand(connection, command)) return AbortDelivery(connection, "Error writing MAIL FROM: tag");
  LogMessage("MAIL FROM: OK", false);
  ExpectReply(connection, "250", bounds.command);

  if (Settings.MailToInputFile.IsSet()) return SendRecipientFile(connection);

  FormatText(command, sizeof command, "RCPT TO: %s\r\n", Settings.MailTo.c_str());
  FormatText(line, sizeof line, "Sending %s", command);
  LogMessage(line, false);
  if (!SendCommand(connection, command)) return AbortDelivery(connection, "Error writing RCPT TO: tag");
  LogMessage("RCPT TO: OK", false);
  ExpectReply(connection, "250", bounds.command);
  return true;
}
