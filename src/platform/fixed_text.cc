#include "platform/fixed_text.h"

#include <cstdarg>
#include <cstdio>

bool FormatText(char* buffer, std::size_t capacity, const char* format, ...) {
  if (capacity == 0) return false;
  va_list arguments;
  va_start(arguments, format);
  int needed = std::vsnprintf(buffer, capacity, format, arguments);
  va_end(arguments);
  if (needed < 0 || static_cast<std::size_t>(needed) >= capacity) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

void WipeBytes(char* bytes, std::size_t count) {
  volatile char* target = bytes;
  for (std::size_t i = 0; i < count; ++i) target[i] = '\0';
}

void WipeText(std::string& text) {
  WipeBytes(text.data(), text.size());
  text.clear();
}
