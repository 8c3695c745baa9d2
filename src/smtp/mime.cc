#include "smtp/mime.h"

#include <vector>

#include "smtp/address_list.h"
#include "smtp/auth.h"

namespace {

constexpr std::size_t kMaxQuotedLine = 76;
constexpr std::size_t kMaxEncodedWord = 75;
constexpr std::size_t kFoldAt = 78;

bool IsUtf8(std::string_view charset) {
  std::string lower;
  for (char c : charset) lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  return lower == "utf-8" || lower == "utf8";
}

// A display name without the quotes around it and with its escapes undone.
std::string Unquoted(std::string_view phrase) {
  if (phrase.size() < 2 || phrase.front() != '"' || phrase.back() != '"') return std::string(phrase);
  std::string text;
  for (std::size_t i = 1; i + 1 < phrase.size(); ++i) {
    if (phrase[i] == '\\' && i + 2 < phrase.size()) ++i;
    text.push_back(phrase[i]);
  }
  return text;
}

}  // namespace

void QuotedPrintableEncoder::Put(const char* token, std::size_t length, char*& out) {
  // Room for the "=" of a soft break after the token.
  if (column_ + length > kMaxQuotedLine - 1) {
    *out++ = '=';
    *out++ = '\n';
    column_ = 0;
  }
  for (std::size_t i = 0; i < length; ++i) *out++ = token[i];
  column_ += length;
}

void QuotedPrintableEncoder::PutByte(unsigned char byte, char*& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char token[3] = {'=', kHex[byte >> 4], kHex[byte & 15]};
  Put(token, 3, out);
}

std::size_t QuotedPrintableEncoder::Encode(const char* text, std::size_t length, char* out) {
  char* start = out;
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      if (pendingBlank_) PutByte(static_cast<unsigned char>(pendingBlank_), out);
      pendingBlank_ = 0;
      *out++ = '\n';
      column_ = 0;
      continue;
    }
    if (pendingBlank_) {
      Put(&pendingBlank_, 1, out);
      pendingBlank_ = 0;
    }
    if (byte == ' ' || byte == '\t') {
      pendingBlank_ = static_cast<char>(byte);
    } else if (byte == '=' || byte > 126 || byte < 32) {
      PutByte(byte, out);
    } else {
      Put(&text[i], 1, out);
    }
  }
  return static_cast<std::size_t>(out - start);
}

std::size_t QuotedPrintableEncoder::Finish(char* out) {
  char* start = out;
  if (pendingBlank_) PutByte(static_cast<unsigned char>(pendingBlank_), out);
  pendingBlank_ = 0;
  return static_cast<std::size_t>(out - start);
}

bool HasEightBitBytes(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > 126) return true;
  }
  return false;
}

std::string EncodedWords(std::string_view text, std::string_view charset) {
  if (!HasEightBitBytes(text)) return std::string(text);
  std::string prefix = "=?" + std::string(charset) + "?B?";
  std::size_t room = kMaxEncodedWord - prefix.size() - 2;
  std::size_t perWord = room / 4 * 3;
  if (perWord == 0) perWord = 3;
  bool utf8 = IsUtf8(charset);
  std::string words;
  while (!text.empty()) {
    std::size_t take = text.size() < perWord ? text.size() : perWord;
    // Never a UTF-8 character split between two words.
    if (utf8 && take < text.size()) {
      std::size_t cut = take;
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
      if (cut > 0) take = cut;
    }
    if (!words.empty()) words += "\r\n ";
    words += prefix;
    AppendBase64(words, text.substr(0, take));
    words += "?=";
    text.remove_prefix(take);
  }
  return words;
}

std::string EncodedAddressList(std::string_view value, std::string_view charset) {
  if (!HasEightBitBytes(value)) return std::string(value);
  std::string encoded;
  for (std::string_view element : ListElements(value)) {
    if (!encoded.empty()) encoded += ",";
    std::size_t open = element.rfind('<');
    std::string_view phrase = open == std::string_view::npos ? std::string_view() : element.substr(0, open);
    if (!HasEightBitBytes(phrase)) {
      encoded += element;
      continue;
    }
    std::size_t first = element.find_first_not_of(" \t");
    std::string_view lead = element.substr(0, first == std::string_view::npos ? element.size() : first);
    encoded += lead;
    encoded += EncodedWords(Unquoted(TrimBlanks(phrase)), charset);
    encoded += " ";
    encoded += TrimBlanks(element.substr(open));
  }
  return encoded;
}

std::string FoldedAddressList(std::string_view value, std::size_t prefixLength) {
  if (prefixLength + value.size() <= kFoldAt && value.find('\n') == std::string_view::npos) return std::string(value);
  std::vector<std::string_view> elements = ListElements(value);
  std::string folded;
  std::size_t column = prefixLength;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    std::string_view element = i == 0 ? elements[i] : TrimBlanks(elements[i]);
    std::size_t firstLine = element.find("\r\n");
    std::size_t length = firstLine == std::string_view::npos ? element.size() : firstLine;
    if (i > 0) {
      folded += ",";
      ++column;
      if (column + 1 + length > kFoldAt) {
        folded += "\r\n";
        column = 0;
      }
      folded += " ";
      ++column;
    }
    folded += element;
    std::size_t lastLine = element.rfind("\r\n");
    column = lastLine == std::string_view::npos ? column + element.size() : element.size() - lastLine - 2;
  }
  return folded;
}
