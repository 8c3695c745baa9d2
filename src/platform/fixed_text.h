// Bounded formatting into fixed buffers, and wiping secrets out of them.
#pragma once

#include <cstddef>
#include <string>

#if defined(__GNUC__)
#define RYMAIL_PRINTF_LIKE(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#else
#define RYMAIL_PRINTF_LIKE(format_index, first_arg)
#endif

/// Formats into buffer; false, with buffer emptied, when the result would not
/// fit capacity - 1 bytes. Nothing is ever written past capacity.
[[nodiscard]] bool FormatText(char* buffer, std::size_t capacity, const char* format, ...) RYMAIL_PRINTF_LIKE(3, 4);

/// Overwrites the bytes with zeros in a way the compiler cannot drop: for secrets.
void WipeBytes(char* bytes, std::size_t count);
/// The same for a text's bytes, which is then emptied.
void WipeText(std::string& text);
