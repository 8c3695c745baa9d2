#include "smtp/auth.h"

#include "front/mail_settings.h"
#include "log/log.h"
#include "platform/fixed_text.h"
#include "smtp/exchange.h"

namespace {

StepResult NotOffered(Session& session, const char* text) {
  return AbortDelivery(session, Outcome::kProtocol, Step::kAuth, text);
}

// Sends prefix, the secret in Base64 and CR LF from one buffer that is wiped
// afterwards (reserved once, so no copy is left behind); false when it could not.
bool SendSecret(Session& session, std::string_view prefix, std::string_view secret) {
  std::string line;
  line.reserve(prefix.size() + (secret.size() + 2) / 3 * 4 + 2);
  line.append(prefix);
  AppendBase64(line, secret);
  line.append("\r\n");
  bool sent = SendCommand(session, line);
  WipeText(line);
  return sent;
}

// AUTH PLAIN with the initial response; the relay's reply to it.
bool AuthPlain(Session& session, Reply& reply) {
  const MailSettings& s = Settings;
  std::string credentials;
  credentials.reserve(2 + s.User.Length() + session.Secret().size());
  credentials.append(1, '\0').append(s.User.view()).append(1, '\0').append(session.Secret());
  session.AddSecretForm(credentials);
  LogMessage("Sending AUTH PLAIN", false);
  bool sent = SendSecret(session, "AUTH PLAIN ", credentials);
  WipeText(credentials);
  if (!sent) return false;
  reply = TakeReply(session, session.Bounds().command);
  return true;
}

// AUTH LOGIN: the user name and the password, each on its 334.
bool AuthLogin(Session& session, Reply& reply) {
  Milliseconds bound = session.Bounds().command;
  LogMessage("Sending AUTH LOGIN", false);
  if (!SendCommand(session, "AUTH LOGIN\r\n")) return false;
  reply = TakeReply(session, bound);
  if (IsCode(reply, "334")) {
    LogMessage("Sending the user name", false);
    if (!SendSecret(session, "", Settings.User.view())) return false;
    reply = TakeReply(session, bound);
  }
  if (IsCode(reply, "334")) {
    LogMessage("Sending the password", false);
    if (!SendSecret(session, "", session.Secret())) return false;
    reply = TakeReply(session, bound);
  }
  return true;
}

StepResult AuthenticateWithSecret(Session& session) {
  const MailSettings& s = Settings;
  const RelayOffer& offer = session.offer;
  bool plain;
  if (s.Auth.IsSet()) {
    plain = s.Auth.view() == "plain";
    if (!offer.auth) return NotOffered(session, "The relay does not offer AUTH");
    if (plain ? !offer.plain : !offer.login) {
      return NotOffered(session, plain ? "The relay does not offer AUTH PLAIN" : "The relay does not offer AUTH LOGIN");
    }
  } else if (offer.plain || offer.login) {
    plain = offer.plain;
  } else {
    return NotOffered(session, offer.auth ? "The relay offers neither AUTH PLAIN nor AUTH LOGIN"
                                          : "The relay does not offer AUTH");
  }
  Reply reply{ReplyStatus::kFailed, {}};
  bool sent = plain ? AuthPlain(session, reply) : AuthLogin(session, reply);
  if (!sent) return AbortDelivery(session, ClassOfLoss(false), Step::kAuth, "Error writing AUTH");
  if (!IsCode(reply, "235")) return AbortDelivery(session, reply, Step::kAuth, "AUTH was refused: " + ShownReply(session, reply));
  LogMessage("AUTH OK", false);
  session.report.auth = plain ? "PLAIN" : "LOGIN";
  return StepDone();
}

}  // namespace

std::string Base64(std::string_view bytes) {
  std::string encoded;
  AppendBase64(encoded, bytes);
  return encoded;
}

void AppendBase64(std::string& encoded, std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::size_t count = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (count > 1) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (count > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    encoded.push_back(kDigits[(group >> 18) & 63]);
    encoded.push_back(kDigits[(group >> 12) & 63]);
    encoded.push_back(count > 1 ? kDigits[(group >> 6) & 63] : '=');
    encoded.push_back(count > 2 ? kDigits[group & 63] : '=');
  }
}

StepResult Authenticate(Session& session) {
  StepResult result = AuthenticateWithSecret(session);
  session.ForgetSecret();
  return result;
}
