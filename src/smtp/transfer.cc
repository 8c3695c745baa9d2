#include <memory>
#include <string>
#include <utility>

#include "front/mail_settings.h"
#include "log/log.h"
#include "log/time_text.h"
#include "platform/text_stream.h"
#include "smtp/body_encoder.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"
#include "smtp/message_writer.h"
#include "smtp/mime.h"

namespace {

constexpr char kBodyFailure[] = "Error writing a line from the InputFile";
constexpr char kXMailer[] = "ryMail-V1.0 for DOS available at https://rymail.example.org/";
/// The longest line 8BITMIME allows, without its line end (RFC 5321).
constexpr std::size_t kMaxEightBitLine = 998;

// One header line: its name, its value and what ends it.
struct HeaderLine {
  std::string_view name;    // up to and including what precedes the value
  std::string value;
  std::string_view ending;  // "\r\n", or more where the value is enclosed or the block ends
  bool optional;            // sent only when the value is set
  const char* sendFailure;
  const char* logAfter;
};

bool PutHeaders(Session& session, MessageWriter& writer) {
  const MailSettings& s = Settings;
  char date[kMailDateCapacity];
  StartMailDate(date);
  std::string_view charset = s.Charset.view();
  bool mime = s.Charset.IsSet();
  // Without a character set every text goes as given; with one, 8-bit texts become encoded-words.
  auto names = [&](std::string_view value) { return mime ? EncodedAddressList(value, charset) : std::string(value); };
  std::string encoding = session.eightBitBody ? "8bit" : "quoted-printable";
  std::string_view blockEnd = mime ? "\r\n" : "\r\n\r\n";
  std::string cc = names(s.Cc.view());
  const HeaderLine headers[] = {
      {"Received: by ryMail from ", std::string(s.Originator.view()), "\r\n", false, "Error writing Received: by",
       "Received: by OK"},
      {"Message-ID: <", std::string(s.MessageId.view()), ">\r\n", false, "Error writing Message ID", "Message ID OK"},
      {"Date: ", date, "\r\n", false, "Error writing Date", "Date OK"},
      {"X-Mailer: ", kXMailer, "\r\n", false, "Error writing X-Mailer Info", "X-Mailer Info OK"},
      {"From: ", names(s.From.view()), "\r\n", true, "Error writing FROM:", "FROM: OK"},
      {"Reply-To: ", names(s.ReplyTo.view()), "\r\n", true, "Error writing Reply-To:", "REPLYTO: OK"},
      {"To: ", names(s.To.view()), "\r\n", true, "Error writing TO:", "TO: OK"},
      {"Cc: ", FoldedAddressList(cc, 4), "\r\n", true, "Error writing CC:", "CC: OK"},
      {"Subject: ", mime ? EncodedWords(s.Subject.view(), charset) : std::string(s.Subject.view()), blockEnd, false,
       "Error writing SUBJECT:", "SUBJECT: OK"},
      {"MIME-Version: ", mime ? "1.0" : "", "\r\n", true, "Error writing MIME-Version:", "MIME-Version: OK"},
      {"Content-Type: text/plain; charset=", std::string(charset), "\r\n", true, "Error writing Content-Type:",
       "Content-Type: OK"},
      {"Content-Transfer-Encoding: ", mime ? encoding : "", "\r\n\r\n", true,
       "Error writing Content-Transfer-Encoding:", "Content-Transfer-Encoding: OK"},
  };
  for (const HeaderLine& header : headers) {
    if (header.optional && header.value.empty()) continue;
    std::string line;
    line.reserve(header.name.size() + header.value.size() + header.ending.size());
    line.append(header.name).append(header.value).append(header.ending);
    if (!writer.Put(line, header.sendFailure, header.logAfter)) return false;
  }
  return true;
}

// Streams the body file as DATA text: CR LF line ends, leading dots doubled;
// quoted-printable first when a character set is declared and the relay is
// not sent 8-bit text. False after AbortDelivery (failure holds why, unless
// the writer's does).
bool PutBody(Session& session, MessageWriter& writer, StepResult& failure) {
  platform::TextFileReader reader;
  if (!reader.Open(Settings.InputFile.c_str())) {
    failure = AbortDelivery(session, Outcome::kInput, Step::kMessage, "Failed to open the InputFile for reading");
    return false;
  }
  bool quoted = Settings.Charset.IsSet() && !session.eightBitBody;
  // A quoted chunk grows up to four times before the dots and line ends: read less at a time.
  const std::size_t chunk = quoted ? platform::kFileBlockSize / 4 : platform::kFileBlockSize;
  std::unique_ptr<char[]> text(new char[chunk]);
  std::unique_ptr<char[]> encoded(quoted ? new char[QuotedPrintableEncoder::MaxEncodedLength(chunk)] : nullptr);
  QuotedPrintableEncoder quotedPrintable;
  BodyEncoder encoder;
  auto put = [&](const char* piece, std::size_t length) {
    char* room = writer.Reserve(BodyEncoder::MaxEncodedLength(length));
    if (room == nullptr) return false;
    writer.Commit(encoder.Encode(piece, length, room), kBodyFailure, "");
    return true;
  };
  for (;;) {
    std::ptrdiff_t got = reader.Read(text.get(), chunk);
    if (got < 0) {
      failure = AbortDelivery(session, Outcome::kInput, Step::kMessage, "Failed to read the InputFile");
      return false;
    }
    std::size_t length = static_cast<std::size_t>(got);
    if (quoted) {
      length = got == 0 ? quotedPrintable.Finish(encoded.get())
                        : quotedPrintable.Encode(text.get(), length, encoded.get());
      if (length > 0 && !put(encoded.get(), length)) return false;
    } else if (length > 0 && !put(text.get(), length)) {
      return false;
    }
    if (got == 0) return true;
  }
}

}  // namespace

bool BodyFitsEightBit() {
  platform::TextFileReader reader;
  if (!reader.Open(Settings.InputFile.c_str()) || !reader.IsRegular()) return false;
  char line[kMaxEightBitLine + 2];
  for (;;) {
    platform::TextFileReader::Line read = reader.ReadLine(line, sizeof line);
    if (read.failed) return false;
    if (read.length == 0) return true;
    std::string_view text(line, read.lineEnd ? read.length - 1 : read.length);
    if (text.size() > kMaxEightBitLine || text.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
      return false;
    }
  }
}

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

StepResult PutMessage(Session& session) {
  std::string messageId = "<";
  messageId.append(Settings.MessageId.view());
  messageId.push_back('>');
  session.report.messageId = std::move(messageId);
  MessageWriter writer(session);
  StepResult failure;
  if (!PutHeaders(session, writer) || !PutBody(session, writer, failure) ||
      !writer.Put("\r\n.\r\n", "Error sending . for EOF", "EOF . OK", Step::kEndOfData) || !writer.Flush()) {
    return failure.Ok() ? writer.Failure() : failure;
  }
  return StepDone();
}

StepResult SendContent(Session& session) {
  if (StepResult failure = PutMessage(session); !failure.Ok()) return failure;
  session.endOfDataSent = true;
  StepResult result = ExpectReply(session, "250", session.Bounds().endOfData, Step::kEndOfData);
  session.endOfDataSent = false;  // for the next transaction; the result keeps it
  result.step = Step::kEndOfData;
  result.endOfDataSent = true;
  return result;
}

StepResult DeliverMessage(Session& session, const TlsStarter& startTls) {
  StepResult result = AwaitGreeting(session);
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
