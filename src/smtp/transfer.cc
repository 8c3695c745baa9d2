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

// Queues one header line; false after AbortDelivery (failure holds why).
bool PutHeader(Session& session, MessageWriter& writer, const HeaderLine& header, StepResult& failure) {
  if (header.optional && header.value.empty()) return true;
  char CommandBuffer[kCommandBufferCapacity];
  if (!FormatText(CommandBuffer, sizeof CommandBuffer, "%.*s%.*s%.*s", static_cast<int>(header.name.size()),
                  header.name.data(), static_cast<int>(header.value.size()), header.value.data(),
                  static_cast<int>(header.ending.size()), header.ending.data())) {
    if (!writer.Flush()) return false;
    failure = AbortDelivery(session, Outcome::kInternal, Step::kMessage, header.sendFailure);
    return false;
  }
  return writer.Put(CommandBuffer, header.sendFailure, header.logAfter);
}

bool PutHeaders(Session& session, MessageWriter& writer, StepResult& failure) {
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
      {"Cc: ", s.Cc.view(), "\r\n", true, "Error writing CC:", "CC: OK"},
      {"Subject: ", s.Subject.view(), "\r\n\r\n", false, "Error writing SUBJECT:", "SUBJECT: OK"},
  };
  for (const HeaderLine& header : headers) {
    if (!PutHeader(session, writer, header, failure)) return false;
  }
  return true;
}

// Streams the body file as DATA text: CR LF line ends, leading dots doubled.
// False after AbortDelivery (failure holds why, unless the writer's does).
bool PutBody(Session& session, MessageWriter& writer, StepResult& failure) {
  platform::TextFileReader reader;
  if (!reader.Open(Settings.InputFile.c_str())) {
    failure = AbortDelivery(session, Outcome::kInput, Step::kMessage, "Failed to open the InputFile for reading");
    return false;
  }
  constexpr std::size_t kChunk = platform::kFileBlockSize;
  std::unique_ptr<char[]> text(new char[kChunk]);
  BodyEncoder encoder;
  for (;;) {
    std::ptrdiff_t got = reader.Read(text.get(), kChunk);
    if (got < 0) {
      failure = AbortDelivery(session, Outcome::kInput, Step::kMessage, "Failed to read the InputFile");
      return false;
    }
    if (got == 0) return true;
    std::size_t length = static_cast<std::size_t>(got);
    char* room = writer.Reserve(BodyEncoder::MaxEncodedLength(length));
    if (room == nullptr) return false;
    writer.Commit(encoder.Encode(text.get(), length, room), kBodyFailure, "");
  }
}

}  // namespace

void SayGoodbye(Session& session) {
  Connection& connection = session.connection();
  if (SendCommand(session, "QUIT\r\n")) {
    Reply reply = connection.ReadReply(session.Bounds().quit);
    if (reply.status == ReplyStatus::kComplete) {
      std::string logged = "Received ";
      logged.append(session.Clean(reply.text));
      LogMessage(logged, false);
    }
  }
  session.Close();
}

StepResult SendContent(Session& session) {
  session.report.messageId = "<" + std::string(Settings.MessageId.view()) + ">";
  MessageWriter writer(session);
  StepResult failure;
  if (!PutHeaders(session, writer, failure) || !PutBody(session, writer, failure) ||
      !writer.Put("\r\n.\r\n", "Error sending . for EOF", "EOF . OK", Step::kEndOfData) || !writer.Flush()) {
    return failure.Ok() ? writer.Failure() : failure;
  }
  session.endOfDataSent = true;
  StepResult result = ExpectReply(session, "250", session.Bounds().endOfData, Step::kEndOfData);
  session.endOfDataSent = false;  // for the next transaction; the result keeps it
  result.step = Step::kEndOfData;
  result.endOfDataSent = true;
  return result;
}

StepResult DeliverMessage(Session& session, const TlsStarter& startTls) {
  StepResult result = ExpectReply(session, "220", session.Bounds().greeting, Step::kGreeting);
  if (!result.Ok()) return result;
  if (SubmissionAsked()) {
    result = Introduce(session, startTls);
  } else if (Settings.Ehlo.view() == "on") {
    result = SayEhloOrHelo(session);
  } else {
    result = SayHelo(session);
  }
  if (!result.Ok()) return result;
  return SendTransactions(session);
}
