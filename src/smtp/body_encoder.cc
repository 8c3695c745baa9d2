#include "smtp/body_encoder.h"

#include <cstring>

std::size_t BodyEncoder::Encode(const char* text, std::size_t length, char* out) {
  char* start = out;
  const char* end = text + length;
  while (text < end) {
    if (atLineStart_ && *text == '.') *out++ = '.';
    const char* lf = static_cast<const char*>(std::memchr(text, '\n', static_cast<std::size_t>(end - text)));
    const char* stop = lf ? lf : end;
    std::memcpy(out, text, static_cast<std::size_t>(stop - text));
    out += stop - text;
    text = stop;
    atLineStart_ = lf != nullptr;
    if (lf) {
      *out++ = '\r';
      *out++ = '\n';
      ++text;
    }
  }
  return static_cast<std::size_t>(out - start);
}
