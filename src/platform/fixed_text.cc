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
