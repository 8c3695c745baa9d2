#include "smtp/exchange.h"

#include <string>

#include "front/mail_settings.h"
#include "log/log.h"

namespace {

// The class of a reply that was not the expected one, or of its absence.
Outcome ClassOf(const Session& session, const Reply& reply, Step step) {
  switch (reply.status) {
    case ReplyStatus::kComplete:
      return ClassOfReply(reply.text, step);
    case ReplyStatus::kTooLong:
      return Outcome::kProtocol;
    case ReplyStatus::kTlsRecord:
      return Outcome::kConfiguration;
    case ReplyStatus::kClosed:
    case ReplyStatus::kTimedOut:
    case ReplyStatus::kFailed:
      break;
  }
  return ClassOfLoss(session.endOfDataSent);
}

// The name a refusal on the submission path gives the step, or empty.
std::string_view RefusedStepName(Step step) {
  switch (step) {
    case Step::kEhlo:
      return "EHLO";
    case Step::kStartTls:
      return "STARTTLS";
    case Step::kMail:
      return "MAIL FROM";
    case Step::kRcpt:
      return "RCPT TO";
    case Step::kData:
      return "DATA";
    case Step::kEndOfData:
      return "the message";
    default:
      return {};
  }
}

}  // namespace

bool SubmissionPath() {
  return Settings.Port.IsSet() || Settings.Tls.IsSet() || Settings.User.IsSet() || Settings.Auth.IsSet();
}

bool SendCommand(Session& session, std::string_view text) {
  return session.connection().Send(text, session.Bounds().send);
}

Reply TakeReply(Session& session, Milliseconds bound, bool tlsRecords) {
  Reply reply = session.connection().ReadReply(bound, tlsRecords);
  std::string logged = "Received ";
  logged.append(session.Clean(reply.text));
  LogMessage(logged, false);
  return reply;
}

std::string ShownReply(const Session& session, const Reply& reply) {
  std::string text = session.Clean(reply.text);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text.empty() ? std::string("no reply") : text;
}

bool IsCode(const Reply& reply, std::string_view code) {
  return reply.status == ReplyStatus::kComplete && ReplyCode(reply.text) == code;
}

StepResult ExpectReply(Session& session, const char* code, Milliseconds bound, Step step) {
  Reply reply = TakeReply(session, bound);
  if (IsCode(reply, code)) {
    StepResult done;
    done.reply = session.Clean(reply.text);
    return done;
  }
  return Unexpected(session, reply, step);
}

StepResult Unexpected(Session& session, const Reply& reply, Step step) {
  std::string_view name = RefusedStepName(step);
  std::string text = "Previous response was not expected!";
  // On the submission path the failure line names the step and quotes the reply's last line.
  if (!name.empty() && reply.status == ReplyStatus::kComplete && SubmissionPath()) {
    std::string shown = session.Clean(reply.text);
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    std::size_t lastLine = shown.rfind('\n');
    if (lastLine != std::string::npos) shown.erase(0, lastLine + 1);
    text = "The relay refused " + std::string(name) + ": " + shown;
  }
  StepResult result = AbortDelivery(session, reply, step, text);
  result.unexpected = true;
  return result;
}

StepResult AbortDelivery(Session& session, Outcome outcome, Step step, std::string_view message) {
  LogMessage(message, true);
  session.Close();
  StepResult result;
  result.outcome = outcome;
  result.step = step;
  result.failure.assign(message);
  result.endOfDataSent = session.endOfDataSent;
  return result;
}

StepResult AbortDelivery(Session& session, const Reply& reply, Step step, std::string_view message) {
  StepResult result = AbortDelivery(session, ClassOf(session, reply, step), step, message);
  result.reply = session.Clean(reply.text);
  return result;
}
