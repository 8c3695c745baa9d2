// Bounded formatting into fixed buffers.
#pragma once

#include <cstddef>

#if defined(__GNUC__)
#define RYMAIL_PRINTF_LIKE(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#else
#define RYMAIL_PRINTF_LIKE(format_index, first_arg)
#endif

/// Formats into buffer; false, with buffer emptied, when the result would not
/// fit capacity - 1 bytes. Nothing is ever written past capacity.
[[nodiscard]] bool FormatText(char* buffer, std::size_t capacity, const char* format, ...) RYMAIL_PRINTF_LIKE(3, 4);
