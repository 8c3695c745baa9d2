#include <memory>

#include "front/fixed_text.h"
#include "front/mail_settings.h"
#include "log/log.h"
#include "platform/text_stream.h"
#include "smtp/body_encoder.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"
#include "smtp/message_writer.h"

namespace {

// The writer keeps these until the bytes are out: they need static storage.
constexpr char kBodyFailure[] = "Error writing a line from the InputFile";
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

static_assert(kCommandCapacity > sizeof "Received: by ryMail from \r\n" + kOriginatorCapacity,
              "every header line fits");

bool PutHeaders(Connection& connection, MessageWriter& writer) {
  char line[kCommandCapacity];
  for (const HeaderStep& header : kHeaders) {
    const char* argument = header.argument ? header.argument() : "";
    if (header.optional && argument[0] == '\0') continue;
    if (!FormatText(line, sizeof line, header.format, argument)) {
      return writer.Flush() && AbortDelivery(connection, header.sendFailure);
    }
    if (!writer.Put(line, header.sendFailure, header.logAfter)) return false;
  }
  return true;
}

// Streams the body file as DATA text: CR LF line ends, leading dots doubled.
bool PutBody(Connection& connection, MessageWriter& writer) {
  platform::TextFileReader reader;
  if (!reader.Open(Settings.InputFile.c_str())) {
    return AbortDelivery(connection, "Failed to open the InputFile for reading");
  }
  constexpr std::size_t kChunk = platform::kFileBlockSize;
  std::unique_ptr<char[]> text(new char[kChunk]);
  BodyEncoder encoder;
  for (;;) {
    std::ptrdiff_t got = reader.Read(text.get(), kChunk);
    if (got < 0) return AbortDelivery(connection, "Failed to read the InputFile");
    if (got == 0) return true;
    std::size_t length = static_cast<std::size_t>(got);
    char* room = writer.Reserve(BodyEncoder::MaxEncodedLength(length));
    if (room == nullptr) return false;
    writer.Commit(encoder.Encode(text.get(), length, room), kBodyFailure, nullptr);
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

  MessageWriter writer(connection);
  if (!PutHeaders(connection, writer) || !PutBody(connection, writer) ||
      !writer.Put("\r\n.\r\n", "Error sending . for EOF", "EOF . OK") || !writer.Flush()) {
    return false;
  }
  ExpectReply(connection, "250", connection.Bounds().endOfData);
  SayGoodbye(connection);
  return true;
}

bool DeliverMessage(Connection& connection) {
  ExpectReply(connection, "220", connection.Bounds().greeting);
  return SendEnvelope(connection) && TransferMessage(connection);
}
