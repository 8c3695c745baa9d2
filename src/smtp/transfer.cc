#include <memory>

#include "front/fixed_text.h"
#include "front/mail_settings.h"
#include "log/log.h"
#include "platform/text_stream.h"
#include "smtp/body_encoder.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"

namespace {

constexpr char kXMailerLine[] = "X-Mailer: ryMail-V1.0 for DOS available at https://rymail.example.org/\r\n";

struct HeaderStep {
  const char* format;       // one "%s", or none
  const char* (*argument)();  // nullptr for a fixed line
  bool optional;            // sent only when its text is set
  const char* sendFailure;
  const char* logAfter;
};

const HeaderStep kHeaders[] = {
    {"Received: by ryMail from %s\r\n", [] { return Settings.Originator.c_str(); }, false,
     "Error writing Received: by", "Received: by OK"},
    {"Message-ID: <%s>\r\n", [] { return Settings.MessageId.c_str(); }, false, "Error writing Message ID",
     "Message ID OK"},
    {kXMailerLine, nullptr, false, "Error writing X-Mailer Info", "X-Mailer Info OK"},
    {"From: %s\r\n", [] { return Settings.From.c_str(); }, true, "Error writing FROM:", "FROM: OK"},
    {"Reply-To: %s\r\n", [] { return Settings.ReplyTo.c_str(); }, true, "Error writing Reply-To:", "REPLYTO: OK"},
    {"To: %s\r\n", [] { return Settings.To.c_str(); }, true, "Error writing TO:", "TO: OK"},
    {"Subject: %s\r\n\r\n", [] { return Settings.Subject.c_str(); }, false, "Error writing SUBJECT:",
     "SUBJECT: OK"},
};

bool SendHeaders(Connection& connection) {
  char line[kCommandCapacity];
  for (const HeaderStep& header : kHeaders) {
    const char* argument = header.argument ? header.argument() : "";
    if (header.optional && argument[0] == '\0') continue;
    if (!FormatText(line, sizeof line, header.format, argument) || !SendCommand(connection, line)) {
      return AbortDelivery(connection, header.sendFailure);
    }
    LogMessage(header.logAfter, false);
  }
  return true;
}

// Streams the body file as DATA text: CR LF line ends, leading dots doubled.
bool SendBody(Connection& connection) {
  platform::TextFileReader reader;
  if (!reader.Open(Settings.InputFile.c_str())) {
    return AbortDelivery(connection, "Failed to open the InputFile for reading");
  }
  constexpr std::size_t kChunk = platform::kFileBlockSize;
  std::unique_ptr<char[]> text(new char[kChunk]);
  std::unique_ptr<char[]> wire(new char[BodyEncoder::MaxEncodedLength(kChunk)]);
  BodyEncoder encoder;
  for (;;) {
    std::ptrdiff_t got = reader.Read(text.get(), kChunk);
    if (got < 0) return AbortDelivery(connection, "Failed to read the InputFile");
    if (got == 0) return true;
    std::size_t encoded = encoder.Encode(text.get(), static_cast<std::size_t>(got), wire.get());
    if (!SendCommand(connection, std::string_view(wire.get(), encoded))) {
      return AbortDelivery(connection, "Error writing a line from the InputFile");
    }
  }
}

// After the relay took the message: QUIT, its reply awaited briefly, and the close.
void SayGoodbye(Connection& connection) {
  if (SendCommand(connection, "QUIT\r\n")) {
    Reply reply = connection.ReadReply(connection.Bounds().quit);
    if (reply.status == ReplyStatus::kComplete) {
      std::string logged = "Received ";
      logged.append(reply.text);
      LogMessage(logged, false);
    }
  }
  connection.Close();
}

}  // namespace

bool TransferMessage(Connection& connection) {
  LogMessage("Sending DATA", false);
  if (!SendCommand(connection, "DATA\r\n")) return AbortDelivery(connection, "Error writing DATA");
  LogMessage("DATA OK", false);
  ExpectReply(connection, "354", connection.Bounds().dataStart);

  if (!SendHeaders(connection) || !SendBody(connection)) return false;

  if (!SendCommand(connection, "\r\n.\r\n")) return AbortDelivery(connection, "Error sending . for EOF");
  LogMessage("EOF . OK", false);
  ExpectReply(connection, "250", connection.Bounds().endOfData);
  SayGoodbye(connection);
  return true;
}

bool DeliverMessage(Connection& connection) {
  ExpectReply(connection, "220", connection.Bounds().greeting);
  return SendEnvelope(connection) && TransferMessage(connection);
}
