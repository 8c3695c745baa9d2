#include "front/result_file.h"

#include "front/mail_settings.h"
#include "platform/console.h"
#include "platform/file.h"

namespace {

const char* const kOutcomeNames[] = {"accepted", "partial", "temporary", "unknown", "refused", "login-refused",
                                     "no-host",  "protocol", "usage",    "input",   "output",  "system",
                                     "configuration", "internal"};
const char* const kStepNames[] = {"settings", "resolve", "connect", "greeting", "helo", "ehlo", "starttls", "tls",
                                  "auth",     "mail",    "rcpt",    "data",     "message", "end-of-data", "quit"};
static_assert(sizeof kOutcomeNames / sizeof *kOutcomeNames == static_cast<int>(Outcome::kInternal) + 1);
static_assert(sizeof kStepNames / sizeof *kStepNames == static_cast<int>(Step::kQuit) + 1);

// The length of the valid UTF-8 sequence at the start of text, or 0.
std::size_t Utf8Length(std::string_view text) {
  auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  std::size_t length;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong form
    if (lead == 0xED) high = 0x9F;  // no surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

void AppendEscaped(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.append("\\u00");
  out.push_back(kHex[byte >> 4]);
  out.push_back(kHex[byte & 15]);
}

// A text, or null when it is empty.
std::string TextOrNull(std::string_view text) { return text.empty() ? "null" : JsonString(text); }

const char* RetryOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::kTemporary:
      return "yes";
    case Outcome::kUnknown:
      return "unsafe";
    default:
      return "no";
  }
}

}  // namespace

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  for (std::size_t i = 0; i < bytes.size();) {
    unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (byte >= 0x80) {
      std::size_t length = Utf8Length(bytes.substr(i));
      if (length == 0) {
        AppendEscaped(out, byte);
        ++i;
      } else {
        out.append(bytes.substr(i, length));
        i += length;
      }
      continue;
    }
    ++i;
    if (byte == '"' || byte == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(byte));
    } else if (byte == '\r') {
      out.append("\\r");
    } else if (byte == '\n') {
      out.append("\\n");
    } else if (byte < 0x20) {
      AppendEscaped(out, byte);
    } else {
      out.push_back(static_cast<char>(byte));
    }
  }
  out.push_back('"');
  return out;
}

std::string ResultLine(const Delivery& run, int status, std::string_view failure) {
  const StepResult& end = run.end;
  std::string line = "{\"result\":\"";
  line.append(kOutcomeNames[static_cast<int>(end.outcome)]).append("\",\"status\":").append(std::to_string(status));
  line.append(",\"retry\":\"").append(RetryOf(end.outcome)).append("\"");
  line.append(",\"step\":\"").append(kStepNames[static_cast<int>(end.step)]).append("\"");
  line.append(",\"reply\":").append(TextOrNull(end.reply));
  line.append(",\"message_id\":").append(TextOrNull(run.messageId));
  line.append(",\"relay\":").append(TextOrNull(Settings.Gateway.view()));
  line.append(",\"address\":").append(TextOrNull(run.address));
  line.append(",\"port\":").append(run.port == 0 ? "null" : std::to_string(run.port));
  line.append(",\"tls\":").append(TextOrNull(run.tls));
  line.append(",\"auth\":").append(TextOrNull(run.auth));
  line.append(",\"recipients\":{\"accepted\":").append(std::to_string(run.accepted)).append(",\"refused\":[");
  for (std::size_t i = 0; i < run.refused.size(); ++i) {
    if (i > 0) line.push_back(',');
    line.append("{\"address\":").append(JsonString(run.refused[i].address));
    line.append(",\"reply\":").append(TextOrNull(run.refused[i].reply)).append("}");
  }
  line.append("]},\"failure\":").append(TextOrNull(failure));
  line.append(",\"detail\":").append(TextOrNull(end.detail)).append("}\n");
  return line;
}

void WriteResultFile(const std::string& line) {
  if (!Settings.ResultFile.IsSet()) return;
  if (Settings.ResultFile.view() == "-") {
    ConsoleWrite(line);
    return;
  }
  platform::FileHandle file = platform::CreateOrTruncate(Settings.ResultFile.c_str());
  if (file == platform::kNoFile) return;
  (void)platform::WriteFile(file, line.data(), line.size());
  platform::CloseFile(file);
}
