#include "smtp/submission.h"

#include <string>
#include <vector>

#include "front/mail_settings.h"
#include "log/log.h"
#include "platform/fixed_text.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

static_assert(kCommandBufferCapacity > sizeof "EHLO \r\n" + kFieldCapacity);
static_assert(kLineBufferCapacity > sizeof "Sending EHLO \r\n" + kFieldCapacity);

// EHLO, its 250, and what it offers; any other reply fails as unexpected,
// but a 5xx with fallBack says HELO instead.
StepResult SayEhlo(Session& session, bool fallBack = false) {
  char CommandBuffer[kCommandBufferCapacity];
  char LineBuffer[kLineBufferCapacity];
  (void)FormatText(CommandBuffer, sizeof CommandBuffer, "EHLO %s\r\n", Settings.Helo.c_str());
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Sending %s", CommandBuffer);
  LogMessage(LineBuffer, false);
  if (!SendCommand(session, CommandBuffer)) {
    return AbortDelivery(session, ClassOfLoss(false), Step::kEhlo, "Error saying EHLO");
  }
  LogMessage("EHLO was OK.", false);
  Reply reply = TakeReply(session, session.Bounds().command);
  if (!IsCode(reply, "250")) {
    if (fallBack && reply.status == ReplyStatus::kComplete && ReplyCode(reply.text).substr(0, 1) == "5") {
      session.offer = RelayOffer();
      return SayHelo(session);
    }
    return Unexpected(session, reply, Step::kEhlo);
  }
  session.offer = ParseEhloReply(reply.text);
  return StepDone();
}

StepResult StartTlsStep(Session& session, const TlsStarter& startTls) {
  LogMessage("Sending STARTTLS", false);
  if (!SendCommand(session, "STARTTLS\r\n")) {
    return AbortDelivery(session, ClassOfLoss(false), Step::kStartTls, "Error writing STARTTLS");
  }
  Reply reply = TakeReply(session, session.Bounds().command);
  if (!IsCode(reply, "220")) {
    return AbortDelivery(session, reply, Step::kStartTls, "The relay refused STARTTLS: " + ShownReply(session, reply));
  }
  // Bytes after the 220 were sent before TLS and would be read as if they came through it.
  if (session.connection().HasUnreadBytes()) {
    return AbortDelivery(session, Outcome::kProtocol, Step::kStartTls,
                         "Data arrived after the STARTTLS reply, before TLS: the connection is not safe");
  }
  if (!startTls) {
    return AbortDelivery(session, Outcome::kInternal, Step::kTls, "TLS cannot be started on this connection");
  }
  return startTls(session, Step::kTls);
}

StepResult IntroduceSteps(Session& session, const TlsStarter& startTls) {
  StepResult result = SayEhlo(session);
  if (!result.Ok()) return result;
  if (Settings.Tls.view() == "starttls") {
    if (!session.offer.startTls) {
      return AbortDelivery(session, Outcome::kProtocol, Step::kStartTls, "The relay does not offer STARTTLS");
    }
    // Only what the relay offers through TLS counts.
    result = StartTlsStep(session, startTls);
    if (!result.Ok()) return result;
    result = SayEhlo(session);
    if (!result.Ok()) return result;
  }
  return Settings.User.IsSet() ? Authenticate(session) : StepDone();
}

}  // namespace

RelayOffer ParseEhloReply(std::string_view reply) {
  RelayOffer offer;
  bool first = true;
  while (!reply.empty()) {
    std::size_t end = reply.find('\n');
    std::string_view line = reply.substr(0, end);
    reply = end == std::string_view::npos ? std::string_view() : reply.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first || line.size() < 4) {
      first = false;
      continue;
    }
    std::string_view rest = line.substr(4);
    std::vector<std::string_view> words;
    while (!rest.empty()) {
      std::size_t stop = rest.find_first_of(" =");
      if (stop != 0) words.push_back(rest.substr(0, stop));
      rest = stop == std::string_view::npos ? std::string_view() : rest.substr(stop + 1);
    }
    if (words.empty()) continue;
    if (SameWord(words[0], "STARTTLS")) offer.startTls = true;
    if (SameWord(words[0], "PIPELINING")) offer.pipelining = true;
    if (SameWord(words[0], "8BITMIME")) offer.eightBitMime = true;
    if (SameWord(words[0], "SMTPUTF8")) offer.smtpUtf8 = true;
    if (!SameWord(words[0], "AUTH")) continue;
    offer.auth = true;
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (SameWord(words[i], "PLAIN")) offer.plain = true;
      if (SameWord(words[i], "LOGIN")) offer.login = true;
      if (SameWord(words[i], "XOAUTH2")) offer.xoauth2 = true;
      if (SameWord(words[i], "OAUTHBEARER")) offer.oauthBearer = true;
    }
  }
  return offer;
}

StepResult SayEhloOrHelo(Session& session) { return SayEhlo(session, true); }

StepResult AwaitGreeting(Session& session) {
  if (!SubmissionPath()) return ExpectReply(session, "220", session.Bounds().greeting, Step::kGreeting);
  // A relay that speaks TLS from the first byte waits for our hello, or sends an alert.
  bool expectsTls = Settings.Port.IsSet() && session.report.port == kImplicitTlsPort && Settings.Tls.view() != "implicit";
  Milliseconds bound = session.Bounds().greeting;
  if (expectsTls && session.Bounds().tlsGreeting < bound) bound = session.Bounds().tlsGreeting;
  Reply reply = TakeReply(session, bound, true);
  if (IsCode(reply, "220")) return StepDone();
  std::string port = std::to_string(session.report.port);
  bool tlsBytes = reply.text.size() >= 2 && (reply.text[0] == 0x15 || reply.text[0] == 0x16) && reply.text[1] == 0x03;
  if (reply.status == ReplyStatus::kTlsRecord || tlsBytes) {
    return AbortDelivery(session, Outcome::kConfiguration, Step::kGreeting,
                         "The relay at " + port + " speaks TLS from the first byte: use --tls implicit.");
  }
  if (expectsTls && reply.status == ReplyStatus::kTimedOut && reply.text.empty()) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(bound).count();
    return AbortDelivery(session, Outcome::kConfiguration, Step::kGreeting,
                         "No greeting from " + std::string(Settings.Gateway.view()) + " port " + port + " within " +
                             std::to_string(seconds) + " s: it expects TLS from the first byte, use --tls implicit.");
  }
  return Unexpected(session, reply, Step::kGreeting);
}

bool SubmissionAsked() {
  std::string_view tls = Settings.Tls.view();
  return tls == "starttls" || tls == "implicit" || Settings.User.IsSet();
}

StepResult Introduce(Session& session, const TlsStarter& startTls) {
  StepResult result = IntroduceSteps(session, startTls);
  session.ForgetSecret();
  return result;
}
