#include "smtp/submission.h"

#include <vector>

#include "front/mail_settings.h"
#include "log/log.h"
#include "platform/fixed_text.h"
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

// Overwrites a secret's bytes before the text is freed.
void Wipe(std::string& text) {
  volatile char* bytes = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) bytes[i] = '\0';
  text.clear();
}

// A reply as one line for a failure text: without its line ends.
std::string Shown(const Reply& reply) {
  std::string text(reply.text);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text.empty() ? std::string("no reply") : text;
}

bool IsCode(const Reply& reply, std::string_view code) {
  return reply.status == ReplyStatus::kComplete && ReplyCode(reply.text) == code;
}

static_assert(kCommandBufferCapacity > sizeof "EHLO \r\n" + kFieldCapacity);
static_assert(kLineBufferCapacity > sizeof "Sending EHLO \r\n" + kFieldCapacity);

// EHLO, its 250, and what it offers; any other reply ends the run.
bool SayEhlo(Connection& connection, RelayOffer& offer) {
  char CommandBuffer[kCommandBufferCapacity];
  char LineBuffer[kLineBufferCapacity];
  (void)FormatText(CommandBuffer, sizeof CommandBuffer, "EHLO %s\r\n", Settings.Helo.c_str());
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Sending %s", CommandBuffer);
  LogMessage(LineBuffer, false);
  if (!SendCommand(connection, CommandBuffer)) return AbortDelivery(connection, "Error saying EHLO");
  LogMessage("EHLO was OK.", false);
  Reply reply = TakeReply(connection, connection.Bounds().command);
  if (!IsCode(reply, "250")) EndUnexpected(connection);
  offer = ParseEhloReply(reply.text);
  return true;
}

bool StartTlsStep(Connection& connection, const TlsStarter& startTls) {
  LogMessage("Sending STARTTLS", false);
  if (!SendCommand(connection, "STARTTLS\r\n")) return AbortDelivery(connection, "Error writing STARTTLS");
  Reply reply = TakeReply(connection, connection.Bounds().command);
  if (!IsCode(reply, "220")) return AbortDelivery(connection, "The relay refused STARTTLS: " + Shown(reply));
  // Bytes after the 220 were sent before TLS and would be read as if they came through it.
  if (connection.HasUnreadBytes()) {
    return AbortDelivery(connection, "Data arrived after the STARTTLS reply, before TLS: the connection is not safe");
  }
  if (!startTls) return AbortDelivery(connection, "TLS cannot be started on this connection");
  std::string failure = startTls(connection);
  return failure.empty() || AbortDelivery(connection, failure);
}

// Sends prefix, the secret in Base64 and CR LF from one buffer that is wiped
// afterwards (reserved once, so no copy is left behind); false after AbortDelivery.
bool SendSecret(Connection& connection, std::string_view prefix, std::string_view secret) {
  std::string line;
  line.reserve(prefix.size() + (secret.size() + 2) / 3 * 4 + 2);
  line.append(prefix);
  AppendBase64(line, secret);
  line.append("\r\n");
  bool sent = SendCommand(connection, line);
  Wipe(line);
  return sent || AbortDelivery(connection, "Error writing AUTH");
}

bool Authenticate(Connection& connection, const RelayOffer& offer) {
  const MailSettings& s = Settings;
  bool plain;
  if (s.Auth.IsSet()) {
    plain = s.Auth.view() == "plain";
    if (!offer.auth) return AbortDelivery(connection, "The relay does not offer AUTH");
    if (plain ? !offer.plain : !offer.login) {
      return AbortDelivery(connection, plain ? "The relay does not offer AUTH PLAIN" : "The relay does not offer AUTH LOGIN");
    }
  } else if (offer.plain || offer.login) {
    plain = offer.plain;
  } else {
    return AbortDelivery(connection, offer.auth ? "The relay offers neither AUTH PLAIN nor AUTH LOGIN"
                                                : "The relay does not offer AUTH");
  }
  Milliseconds bound = connection.Bounds().command;
  Reply reply;
  if (plain) {
    std::string credentials;
    credentials.reserve(2 + s.User.Length() + s.Password.Length());
    credentials.append(1, '\0').append(s.User.view()).append(1, '\0').append(s.Password.view());
    LogMessage("Sending AUTH PLAIN", false);
    bool sent = SendSecret(connection, "AUTH PLAIN ", credentials);
    Wipe(credentials);
    if (!sent) return false;
    reply = TakeReply(connection, bound);
  } else {
    LogMessage("Sending AUTH LOGIN", false);
    if (!SendCommand(connection, "AUTH LOGIN\r\n")) return AbortDelivery(connection, "Error writing AUTH");
    reply = TakeReply(connection, bound);
    if (IsCode(reply, "334")) {
      LogMessage("Sending the user name", false);
      if (!SendSecret(connection, "", s.User.view())) return false;
      reply = TakeReply(connection, bound);
    }
    if (IsCode(reply, "334")) {
      LogMessage("Sending the password", false);
      if (!SendSecret(connection, "", s.Password.view())) return false;
      reply = TakeReply(connection, bound);
    }
  }
  if (!IsCode(reply, "235")) return AbortDelivery(connection, "AUTH was refused: " + Shown(reply));
  LogMessage("AUTH OK", false);
  return true;
}

bool IntroduceSteps(Connection& connection, const TlsStarter& startTls) {
  RelayOffer offer;
  if (!SayEhlo(connection, offer)) return false;
  if (Settings.Tls.view() == "starttls") {
    if (!offer.startTls) return AbortDelivery(connection, "The relay does not offer STARTTLS");
    // Only what the relay offers through TLS counts.
    if (!StartTlsStep(connection, startTls) || !SayEhlo(connection, offer)) return false;
  }
  return !Settings.User.IsSet() || Authenticate(connection, offer);
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
    if (!SameWord(words[0], "AUTH")) continue;
    offer.auth = true;
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (SameWord(words[i], "PLAIN")) offer.plain = true;
      if (SameWord(words[i], "LOGIN")) offer.login = true;
    }
  }
  return offer;
}

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

bool SubmissionAsked() {
  std::string_view tls = Settings.Tls.view();
  return tls == "starttls" || tls == "implicit" || Settings.User.IsSet();
}

bool Introduce(Connection& connection, const TlsStarter& startTls) {
  bool introduced = IntroduceSteps(connection, startTls);
  Settings.Password.Wipe();
  return introduced;
}
