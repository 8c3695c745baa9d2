// Standard output in text mode: every LF goes out as CR LF.
#pragma once

#include <cstddef>
#include <string_view>

/// Prints text on standard output; it bypasses the diagnostic log. A write
/// that fails (a closed or broken standard output) is dropped: the run goes
/// on as if it had been printed.
void ConsolePrint(std::string_view text);

/// Writes bytes on standard output as they stand, with no translation; a
/// failed write is dropped as for ConsolePrint.
void ConsoleWrite(std::string_view bytes);

/// Where console bytes go, already translated; tests replace it.
using ConsoleSink = bool (*)(const char* data, std::size_t length);
/// Replaces the sink and returns the previous one.
ConsoleSink SetConsoleSink(ConsoleSink sink);
