#include <memory>

#include "platform/fixed_text.h"
#include "front/mail_settings.h"
#include "log/log.h"
#include "log/time_text.h"
#include "platform/text_stream.h"
#include "smtp/body_encoder.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"
#include "smtp/message_writer.h"

namespace {

constexpr char kBodyFailure[] = "Error writing a line from the InputFile";
constexpr char kXMailer[] = "ryMail-V1.0 for DOS available at https://rymail.example.org/";

// One header line: its name, its value and what ends it.
struct HeaderLine {
  std::string_view name;    // up to and including what precedes the value
  std::string_view value;
  std::string_view ending;  // "\r\n", or more where the value is enclosed or the block ends
  bool optional;            // sent only when the value is set
  const char* sendFailure;
  const char* logAfter;
};

static_assert(kCommandBufferCapacity > sizeof "Received: by ryMail from \r\n" + kOriginatorCapacity,
              "every header line fits the CommandBuffer");

bool PutHeader(Connection& connection, MessageWriter& writer, const HeaderLine& header) {
  if (header.optional && header.value.empty()) return true;
  char CommandBuffer[kCommandBufferCapacity];
  if (!FormatText(CommandBuffer, sizeof CommandBuffer, "%.*s%.*s%.*s", static_cast<int>(header.name.size()),
                  header.name.data(), static_cast<int>(header.value.size()), header.value.data(),
                  static_cast<int>(header.ending.size()), header.ending.data())) {
    return writer.Flush() && AbortDelivery(connection, header.sendFailure);
  }
  return writer.Put(CommandBuffer, header.sendFailure, header.logAfter);
}

bool PutHeaders(Connection& connection, MessageWriter& writer) {
  const MailSettings& s = Settings;
  char date[kMailDateCapacity];
  StartMailDate(date);
  const HeaderLine headers[] = {
      {"Received: by ryMail from ", s.Originator.view(), "\r\n", false, "Error writing Received: by",
       "Received: by OK"},
      {"Message-ID: <", s.MessageId.view(), ">\r\n", false, "Error writing Message ID", "Message ID OK"},
      {"Date: ", date, "\r\n", false, "Error writing Date", "Date OK"},
      {"X-Mailer: ", kXMailer, "\r\n", false, "Error writing X-Mailer Info", "X-Mailer Info OK"},
      {"From: ", s.From.view(), "\r\n", true, "Error writing FROM:", "FROM: OK"},
      {"Reply-To: ", s.ReplyTo.view(), "\r\n", true, "Error writing Reply-To:", "REPLYTO: OK"},
      {"To: ", s.To.view(), "\r\n", true, "Error writing TO:", "TO: OK"},
      {"Subject: ", s.Subject.view(), "\r\n\r\n", false, "Error writing SUBJECT:", "SUBJECT: OK"},
  };
  for (const HeaderLine& header : headers) {
    if (!PutHeader(connection, writer, header)) return false;
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
    writer.Commit(encoder.Encode(text.get(), length, room), kBodyFailure, "");
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

bool DeliverMessage(Connection& connection, const TlsStarter& startTls) {
  ExpectReply(connection, "220", connection.Bounds().greeting);
  bool introduced = SubmissionAsked() ? Introduce(connection, startTls) : SayHelo(connection);
  return introduced && SendEnvelope(connection) && TransferMessage(connection);
}
