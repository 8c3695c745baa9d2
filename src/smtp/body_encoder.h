// Turns body text, as the text-mode reader yields it, into the bytes of the
// DATA section: each LF goes out as CR LF and a line that begins with "."
// gets one more "." in front, so that the relay restores the text exactly.
#pragma once

#include <cstddef>

class BodyEncoder {
 public:
  /// The most bytes Encode writes for length bytes of text.
  static constexpr std::size_t MaxEncodedLength(std::size_t length) { return 2 * length; }

  /// Encodes one chunk; chunks may split lines anywhere. out must hold
  /// MaxEncodedLength(length) bytes. Returns the count written.
  std::size_t Encode(const char* text, std::size_t length, char* out);

 private:
  bool atLineStart_ = true;
};
