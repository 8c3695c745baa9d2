#include "platform/console.h"

#include "platform/file.h"
#include "platform/text_stream.h"

namespace {
ConsoleSink currentSink = platform::WriteStandardOutput;
}

void ConsolePrint(std::string_view text) {
  platform::WriteTextMode(text, [](const char* data, std::size_t length) { return currentSink(data, length); });
}

void ConsoleWrite(std::string_view bytes) { (void)currentSink(bytes.data(), bytes.size()); }

ConsoleSink SetConsoleSink(ConsoleSink sink) {
  ConsoleSink previous = currentSink;
  currentSink = sink;
  return previous;
}
