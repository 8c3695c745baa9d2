#include "smtp/body_encoder.h"

std::size_t BodyEncoder::Encode(const char* text, std::size_t length, char* out) {
  std::size_t written = 0;
  for (std::size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (atLineStart_ && c == '.') out[written++] = '.';
    if (c == '\n') out[written++] = '\r';
    out[written++] = c;
    atLineStart_ = c == '\n';
  }
  return written;
}
