#include "smtp/auth.h"

#include "front/mail_settings.h"
#include "log/log.h"
#include "platform/fixed_text.h"
#include "smtp/exchange.h"

namespace {

// What a mechanism's exchange came to: the relay's last reply, and what a
// refusal adds to the failure text.
struct Exchange {
  Reply reply{ReplyStatus::kFailed, {}};
  std::string note;
};

StepResult NotOffered(Session& session, std::string_view text) {
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
bool AuthPlain(Session& session, Exchange& exchange) {
  const MailSettings& s = Settings;
  std::string credentials;
  credentials.reserve(2 + s.User.Length() + session.Secret().size());
  credentials.append(1, '\0').append(s.User.view()).append(1, '\0').append(session.Secret());
  session.AddSecretForm(credentials);
  LogMessage("Sending AUTH PLAIN", false);
  bool sent = SendSecret(session, "AUTH PLAIN ", credentials);
  WipeText(credentials);
  if (!sent) return false;
  exchange.reply = TakeReply(session, session.Bounds().command);
  return true;
}

// AUTH LOGIN: the user name and the password, each on its 334.
bool AuthLogin(Session& session, Exchange& exchange) {
  Milliseconds bound = session.Bounds().command;
  Reply& reply = exchange.reply;
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

// A relay's value as it may be logged: printable ASCII, at most 128 characters.
std::string Printable(std::string_view value) {
  std::string shown(value.substr(0, 128));
  for (char& c : shown) {
    if (c < ' ' || c > '~') c = '?';
  }
  return shown;
}

// The bearer mechanisms, in the challenge form (a token's initial response
// would pass the command line limit): AUTH, an empty 334, the credentials.
// A 334 after them carries the relay's error report; its status and scope
// are logged, the status goes with the failure, and errorAnswer ends the
// exchange, drawing the final reply. credentials is wiped.
bool SendBearerToken(Session& session, std::string_view mechanism, std::string& credentials,
                     std::string_view errorAnswer, Exchange& exchange) {
  Milliseconds bound = session.Bounds().command;
  session.AddSecretForm(credentials);
  std::string command = "AUTH ";
  command.append(mechanism);
  LogMessage("Sending " + command, false);
  bool sent = SendCommand(session, command + "\r\n");
  if (sent) exchange.reply = TakeReply(session, bound);
  if (sent && IsCode(exchange.reply, "334")) {
    LogMessage("Sending the token", false);
    sent = SendSecret(session, "", credentials);
    if (sent) exchange.reply = TakeReply(session, bound);
  }
  WipeText(credentials);
  if (!sent) return false;
  if (!IsCode(exchange.reply, "334")) return true;

  std::string_view encoded = exchange.reply.text.substr(4);
  while (!encoded.empty() && (encoded.back() == '\n' || encoded.back() == '\r')) encoded.remove_suffix(1);
  std::string report;
  std::string status, scope;
  if (DecodeBase64(encoded, report)) {
    status = Printable(JsonMember(report, "status"));
    scope = Printable(JsonMember(report, "scope"));
  }
  std::string logged = "Token refused";
  if (!status.empty()) logged.append(": status ").append(status);
  if (!scope.empty()) logged.append(status.empty() ? ": scope " : ", scope ").append(scope);
  LogMessage(session.Clean(logged), false);
  if (!status.empty()) exchange.note = session.Clean(" (token status " + status + ")");
  LogMessage("Answering the error report", false);
  if (!SendCommand(session, errorAnswer)) return false;
  exchange.reply = TakeReply(session, bound);
  return true;
}

// AUTH XOAUTH2: "user=" User "\001auth=Bearer " token "\001\001".
bool AuthXoauth2(Session& session, Exchange& exchange) {
  std::string_view user = Settings.User.view();
  std::string credentials;
  credentials.reserve(32 + user.size() + session.Secret().size());
  credentials.append("user=").append(user).append("\001auth=Bearer ").append(session.Secret()).append("\001\001");
  // The error report is answered with an empty line.
  return SendBearerToken(session, "XOAUTH2", credentials, "\r\n", exchange);
}

// AUTH OAUTHBEARER (RFC 7628): "n,a=" User ",\001host=" Gateway "\001port=" port
// "\001auth=Bearer " token "\001\001", with "," and "=" escaped in the user.
bool AuthOauthBearer(Session& session, Exchange& exchange) {
  std::string_view user = Settings.User.view();
  std::string port = std::to_string(session.report.port);
  std::string credentials;
  credentials.reserve(64 + 3 * user.size() + Settings.Gateway.Length() + session.Secret().size());
  credentials.append("n,a=");
  for (char c : user) {
    if (c == ',') {
      credentials.append("=2C");
    } else if (c == '=') {
      credentials.append("=3D");
    } else {
      credentials.push_back(c);
    }
  }
  credentials.append(",\001host=").append(Settings.Gateway.view()).append("\001port=").append(port);
  credentials.append("\001auth=Bearer ").append(session.Secret()).append("\001\001");
  // The error report is answered with a single 0x01, in Base64.
  return SendBearerToken(session, "OAUTHBEARER", credentials, "AQ==\r\n", exchange);
}

struct Mechanism {
  std::string_view setting;  // the Auth value
  const char* name;          // as AUTH names it
  bool RelayOffer::*offered;
  bool (*run)(Session& session, Exchange& exchange);  // false when a send failed
};

constexpr Mechanism kMechanisms[] = {
    {"plain", "PLAIN", &RelayOffer::plain, AuthPlain},
    {"login", "LOGIN", &RelayOffer::login, AuthLogin},
    {"xoauth2", "XOAUTH2", &RelayOffer::xoauth2, AuthXoauth2},
    {"oauthbearer", "OAUTHBEARER", &RelayOffer::oauthBearer, AuthOauthBearer},
};

StepResult AuthenticateWithSecret(Session& session) {
  const MailSettings& s = Settings;
  const RelayOffer& offer = session.offer;
  const Mechanism* chosen = nullptr;
  if (s.Auth.IsSet()) {
    for (const Mechanism& mechanism : kMechanisms) {
      if (mechanism.setting == s.Auth.view()) chosen = &mechanism;
    }
    if (!offer.auth) return NotOffered(session, "The relay does not offer AUTH");
    if (chosen == nullptr || !(offer.*chosen->offered)) {
      return NotOffered(session, "The relay does not offer AUTH " + std::string(chosen ? chosen->name : s.Auth.c_str()));
    }
  } else if (offer.plain || offer.login) {
    // The bearer mechanisms need a token, not a password: they are used only when named.
    chosen = &kMechanisms[offer.plain ? 0 : 1];
  } else {
    return NotOffered(session, offer.auth ? "The relay offers neither AUTH PLAIN nor AUTH LOGIN"
                                          : "The relay does not offer AUTH");
  }
  Exchange exchange;
  if (!chosen->run(session, exchange)) {
    return AbortDelivery(session, ClassOfLoss(false), Step::kAuth, "Error writing AUTH");
  }
  if (!IsCode(exchange.reply, "235")) {
    return AbortDelivery(session, exchange.reply, Step::kAuth,
                         "AUTH was refused: " + ShownReply(session, exchange.reply) + exchange.note);
  }
  LogMessage("AUTH OK", false);
  session.report.auth = chosen->name;
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

bool DecodeBase64(std::string_view encoded, std::string& bytes) {
  unsigned group = 0;
  int bits = 0;
  std::size_t at = 0;
  for (; at < encoded.size() && encoded[at] != '='; ++at) {
    char c = encoded[at];
    int value = c >= 'A' && c <= 'Z'   ? c - 'A'
                : c >= 'a' && c <= 'z' ? c - 'a' + 26
                : c >= '0' && c <= '9' ? c - '0' + 52
                : c == '+'             ? 62
                : c == '/'             ? 63
                                       : -1;
    if (value < 0) return false;
    group = (group << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((group >> bits) & 0xFF));
      group &= (1u << bits) - 1;
    }
  }
  for (; at < encoded.size(); ++at) {
    if (encoded[at] != '=') return false;
  }
  return true;
}

namespace {

// Reads the JSON string that starts at the quote at json[at], leaving at
// after it; an escape keeps the character after its backslash.
std::string ReadJsonString(std::string_view json, std::size_t& at) {
  std::string text;
  for (++at; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] == '\\' && at + 1 < json.size()) ++at;
    text.push_back(json[at]);
  }
  ++at;
  return text;
}

}  // namespace

std::string JsonMember(std::string_view json, std::string_view name) {
  constexpr std::string_view kBlanks = " \t\r\n";
  int depth = 0;
  for (std::size_t at = 0; at < json.size();) {
    char c = json[at];
    if (c != '"') {
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') --depth;
      ++at;
      continue;
    }
    std::string text = ReadJsonString(json, at);
    std::size_t colon = json.find_first_not_of(kBlanks, at);
    if (depth != 1 || text != name || colon == std::string_view::npos || json[colon] != ':') continue;
    at = json.find_first_not_of(kBlanks, colon + 1);
    if (at == std::string_view::npos) return {};
    if (json[at] == '"') return ReadJsonString(json, at);
    std::size_t end = json.find_first_of(",}] \t\r\n", at);
    return std::string(json.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
  }
  return {};
}

StepResult Authenticate(Session& session) {
  StepResult result = AuthenticateWithSecret(session);
  session.ForgetSecret();
  return result;
}
