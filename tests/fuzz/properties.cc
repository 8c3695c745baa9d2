#include "fuzz/properties.h"

#include <cctype>
#include <cstring>
#include <deque>
#include <vector>

#include "front/completion.h"
#include "platform/console.h"
#include "front/mail_settings.h"
#include "front/options.h"
#include "platform/text_stream.h"
#include "smtp/body_encoder.h"
#include "smtp/mime.h"
#include "smtp/connection.h"

namespace {

// Chunk sizes from a seed: a small generator, so a cut is reproducible.
class Cuts {
 public:
  explicit Cuts(std::uint8_t seed) : state_(seed * 2654435761u + 1) {}
  std::size_t Next(std::size_t limit) {
    state_ = state_ * 1103515245u + 12345u;
    std::size_t size = 1 + (state_ >> 16) % 300;
    return size < limit ? size : limit;
  }

 private:
  std::uint32_t state_;
};

struct Replies {
  std::vector<ReplyStatus> statuses;
  std::vector<std::string> texts;
  bool operator==(const Replies&) const = default;
};

Replies ReadAll(const std::string& stream, std::uint8_t seed, bool whole) {
  Cuts cuts(seed);
  std::size_t at = 0;
  ConnectionOps ops;
  ops.receive = [&](char* buffer, std::size_t capacity, int) -> platform::IoResult {
    if (at == stream.size()) return {platform::IoStatus::kClosed, 0};
    std::size_t count = whole ? stream.size() - at : cuts.Next(stream.size() - at);
    if (count > capacity) count = capacity;
    std::memcpy(buffer, stream.data() + at, count);
    at += count;
    return {platform::IoStatus::kDone, count};
  };
  ops.send = [](const char*, std::size_t length, int) { return platform::IoResult{platform::IoStatus::kDone, length}; };
  ops.close = [] {};
  Connection connection(std::move(ops), ReplyBounds());
  Replies replies;
  for (;;) {
    Reply reply = connection.ReadReply(Milliseconds(1000));
    replies.statuses.push_back(reply.status);
    replies.texts.emplace_back(reply.text);
    if (reply.status != ReplyStatus::kComplete) return replies;
  }
}

std::string TextModeReference(const std::string& raw) {
  std::string text;
  for (std::size_t i = 0; i < raw.size() && raw[i] != '\x1a'; ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text.push_back(raw[i]);
  }
  return text;
}

bool HasTerminator(const MailSettings& s) {
  const char* fields[] = {s.MailFrom.c_str(), s.MailTo.c_str(), s.MailToInputFile.c_str(), s.From.c_str(),
                          s.To.c_str(),       s.ReplyTo.c_str(), s.Subject.c_str(),       s.Gateway.c_str(),
                          s.Helo.c_str(),     s.InputFile.c_str(), s.DebugFile.c_str(),   s.MessageId.c_str()};
  for (const char* field : fields) {
    if (std::memchr(field, '\0', kFieldCapacity) == nullptr) return false;
  }
  return std::memchr(s.Originator.c_str(), '\0', kOriginatorCapacity) != nullptr &&
         std::memchr(s.SystemKeyName.c_str(), '\0', kSystemKeyNameCapacity) != nullptr;
}

bool IsOwnFailureText(const std::string& text) {
  static const char* const kFramed[] = {
      "Missing ", "Don't understand [", "Failed to open input file", "Failed to get a valid ", "The ",
      "Failed to create the result file [",
  };
  if (text.rfind("-RyMail-FAIL, Failed to open the debug file [", 0) == 0) return text.size() > 47;
  std::string body;
  if (text.rfind("\n-RyMail-FAIL, ", 0) == 0) {
    body = text.substr(15);
  } else if (text.rfind("\n-RyMail-F-FAIL, Missing InputFile after -", 0) == 0) {
    return text.size() == 45;
  } else {
    return false;
  }
  if (body.size() < 3 || body.compare(body.size() - 2, 2, "\n\n") != 0) return false;
  for (const char* start : kFramed) {
    if (body.rfind(start, 0) == 0) return true;
  }
  return false;
}

// Quoted-printable over the same text in the same cuts: only 7-bit
// characters on lines of at most 76, and decoding gives back the text.
std::string CheckQuotedPrintable(const std::string& text, Cuts& cuts) {
  QuotedPrintableEncoder encoder;
  std::string quoted;
  std::vector<char> out(QuotedPrintableEncoder::MaxEncodedLength(text.size()));
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = cuts.Next(text.size() - at);
    quoted.append(out.data(), encoder.Encode(text.data() + at, length, out.data()));
    at += length;
  }
  quoted.append(out.data(), encoder.Finish(out.data()));
  std::string back;
  std::size_t lineLength = 0;
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(quoted[i]);
    if (c == '\n') {
      if (i > 0 && (quoted[i - 1] == ' ' || quoted[i - 1] == '\t')) return "a blank before a quoted-printable line end";
      lineLength = 0;
      back.push_back('\n');
      continue;
    }
    if (++lineLength > 76) return "a quoted-printable line over 76 characters";
    if (c > 126 || (c < 32 && c != '\t')) return "an 8-bit or control byte in quoted-printable";
    if (c != '=') {
      back.push_back(static_cast<char>(c));
    } else if (i + 1 < quoted.size() && quoted[i + 1] == '\n') {
      ++i;  // a soft break
      lineLength = 0;
    } else if (i + 2 < quoted.size() && std::isxdigit(static_cast<unsigned char>(quoted[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(quoted[i + 2]))) {
      back.push_back(static_cast<char>(std::stoi(quoted.substr(i + 1, 2), nullptr, 16)));
      i += 2;
      lineLength += 2;
    } else {
      return "an \"=\" that is neither a soft break nor an escape";
    }
  }
  if (!quoted.empty() && (quoted.back() == ' ' || quoted.back() == '\t')) return "a blank at the end of the text";
  if (back != text) return "undoing quoted-printable does not give back the text";
  return {};
}

}  // namespace

std::string CheckReplyReader(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  Replies cut = ReadAll(stream, data[0], false);
  Replies whole = ReadAll(stream, data[0], true);
  if (!(cut == whole)) return "the cut into reads changed the replies";
  std::string consumed;
  for (std::size_t i = 0; i < cut.texts.size(); ++i) {
    const std::string& text = cut.texts[i];
    if (text.size() > kReplyBufferCapacity) return "a reply longer than the cap";
    if (cut.statuses[i] == ReplyStatus::kComplete) {
      if (text.empty() || text.back() != '\n') return "a complete reply without a line end";
      // Every line but the last is continued.
      std::size_t lineStart = 0;
      for (std::size_t end = text.find('\n'); end + 1 < text.size(); end = text.find('\n', lineStart)) {
        if (end - lineStart < 4 || text[lineStart + 3] != '-') return "a reply that ended at an inner line";
        lineStart = end + 1;
      }
    } else if (cut.statuses[i] == ReplyStatus::kTooLong && text.size() != kReplyBufferCapacity) {
      return "a reply refused as too long before the cap";
    }
    consumed += text;
  }
  if (stream.compare(0, consumed.size(), consumed) != 0) return "replies that are not the bytes received";
  return {};
}

std::string CheckBodyPath(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  std::string raw(reinterpret_cast<const char*>(data) + 1, size - 1);
  Cuts cuts(data[0]);
  platform::TextModeDecoder decoder;
  BodyEncoder encoder;
  std::string text, wire;
  std::vector<char> out(raw.size() + 2), encoded(2 * raw.size() + 4);
  for (std::size_t at = 0; at < raw.size();) {
    std::size_t length = cuts.Next(raw.size() - at);
    std::size_t decoded = decoder.Decode(raw.data() + at, length, out.data());
    text.append(out.data(), decoded);
    wire.append(encoded.data(), encoder.Encode(out.data(), decoded, encoded.data()));
    at += length;
  }
  std::size_t last = decoder.Finish(out.data());
  text.append(out.data(), last);
  wire.append(encoded.data(), encoder.Encode(out.data(), last, encoded.data()));

  if (text != TextModeReference(raw)) return "text-mode reading differs from the reference";
  std::string message = "\r\n" + wire + "\r\n.\r\n";
  if (message.find("\r\n.\r\n") != message.size() - 5) return "an early end of data on the wire";
  std::string back;
  bool lineStart = true;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] == '\n' && (i == 0 || wire[i - 1] != '\r')) return "an LF without CR on the wire";
    if (lineStart && wire[i] == '.') {
      if (i + 1 >= wire.size() || wire[i + 1] != '.') return "a line start dot not doubled";
      ++i;
    }
    if (wire[i] == '\r' && i + 1 < wire.size() && wire[i + 1] == '\n') ++i;
    back.push_back(wire[i]);
    lineStart = wire[i] == '\n';
  }
  if (back != text) return "undoing the encoding does not give back the text";
  return CheckQuotedPrintable(text, cuts);
}

std::string CheckOptionWalk(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words{"RyMail"};
  std::vector<std::string> environment;
  std::string token;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      if (token.rfind("E:", 0) == 0) {
        environment.push_back(token.substr(2));
      } else {
        words.push_back(token);
      }
      token.clear();
    } else {
      token.push_back(static_cast<char>(data[i]));
    }
  }
  // Files stay in the working directory: a name with a slash becomes a plain one.
  for (std::size_t i = 1; i + 1 < words.size(); i += 2) {
    bool written = words[i] == "-d" || words[i] == "--result-file";
    if ((written || words[i] == "-i" || words[i] == "-l") && words[i + 1].find('/') != std::string::npos) {
      words[i + 1] = written ? "debug.log" : "body.txt";
    }
  }
  for (std::string& entry : environment) {
    if (entry.size() > 12 && (entry[0] == 'r' || entry[0] == 'R') && entry.find('/') != std::string::npos) {
      entry = entry.substr(0, entry.find('=') + 1) + "debug.log";
    }
  }
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  std::vector<std::string_view> entries(environment.begin(), environment.end());

  Settings = MailSettings();
  ConsoleSink previous = SetConsoleSink([](const char*, std::size_t) { return true; });
  std::string failure = ParseOptions(static_cast<int>(argv.size()), argv.data()).text;
  if (failure.empty()) failure = CompleteSettings(platform::Environment(entries)).text;
  SetConsoleSink(previous);

  if (!HasTerminator(Settings)) return "a field ran past its capacity";
  if (!failure.empty()) return IsOwnFailureText(failure) ? std::string() : "a refusal that is not the program's: " + failure;
  if (Settings.MailFrom.Length() < 5 || Settings.Gateway.Length() < 5 || Settings.Helo.Length() < 3 ||
      !Settings.InputFile.IsSet()) {
    return "settings accepted that are not complete";
  }
  for (const Field* field : {&Settings.MailFrom, &Settings.MailTo, &Settings.From, &Settings.To, &Settings.ReplyTo,
                             &Settings.Subject, &Settings.Gateway, &Settings.Helo}) {
    if (field->view().find_first_of("\r\n") != std::string_view::npos) return "a line break was accepted";
  }
  return {};
}
