// MIME for a declared character set: quoted-printable bodies (RFC 2045) and
// encoded-words in header texts (RFC 2047).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Turns body text, as the text-mode reader yields it (LF line ends), into
/// quoted-printable text with LF line ends: lines of at most 76 characters
/// with soft breaks "=" LF; "=", every byte over 126 and every control byte
/// but TAB as "=XX"; a blank or TAB before a line end (or the end) encoded.
/// The BodyEncoder then makes it DATA text.
class QuotedPrintableEncoder {
 public:
  /// The most bytes Encode or Finish writes for length bytes of text.
  static constexpr std::size_t MaxEncodedLength(std::size_t length) { return 4 * length + 8; }

  /// Encodes one chunk; chunks may split lines anywhere. out must hold
  /// MaxEncodedLength(length) bytes. Returns the count written.
  std::size_t Encode(const char* text, std::size_t length, char* out);
  /// At the end of the text: a blank held back goes out encoded. Returns the count written.
  std::size_t Finish(char* out);

 private:
  void Put(const char* token, std::size_t length, char*& out);
  void PutByte(unsigned char byte, char*& out);

  std::size_t column_ = 0;
  char pendingBlank_ = 0;  // a blank or TAB not yet known to end its line
};

/// Whether the text holds a byte over 126.
bool HasEightBitBytes(std::string_view text);

/// The text as RFC 2047 encoded-words in charset ("=?utf-8?B?...?="), each
/// of at most 75 characters, folded between words; in UTF-8 no character is
/// split between words. A text without bytes over 126 stays as it is.
std::string EncodedWords(std::string_view text, std::string_view charset);

/// An address header's value ("Pat <p@example.com>, \"Doe, J\" <j@...>")
/// with each display name that holds a byte over 126 made encoded-words
/// (a quoted one without its quotes); addresses and ASCII names stay as
/// they are.
std::string EncodedAddressList(std::string_view value, std::string_view charset);

/// An address header line's value as given when its line fits 78
/// characters; else folded between its addresses (one blank after each
/// comma) so that no line passes 78 where a break can help. prefixLength is
/// what stands before the value on the first line ("Cc: ").
std::string FoldedAddressList(std::string_view value, std::size_t prefixLength);
