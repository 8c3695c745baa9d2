#include "log/log.h"

#include "platform/console.h"
#include "front/mail_settings.h"
#include "log/time_text.h"
#include "platform/file.h"
#include "platform/text_stream.h"

namespace {

// Appends one record to the debug file; the record is dropped when the file cannot be opened.
void AppendToDebugFile(std::string_view prefix, std::string_view text) {
  platform::FileHandle file = platform::OpenForAppend(Settings.DebugFile.c_str());
  if (file == platform::kNoFile) return;
  std::string record;
  record.reserve(prefix.size() + text.size() + 1);
  record.append(prefix).append(text);
  if (text.empty() || text.back() != '\n') record.push_back('\n');
  auto sink = [file](const char* data, std::size_t length) { return platform::WriteFile(file, data, length); };
  platform::WriteTextMode(record, sink);
  platform::CloseFile(file);
}

std::string Concatenate(std::string_view a, std::string_view b, std::string_view c) {
  std::string result;
  result.reserve(a.size() + b.size() + c.size());
  result.append(a).append(b).append(c);
  return result;
}

}  // namespace

void LogMessage(std::string_view text, bool isFailure) {
  if (isFailure) ConsolePrint(Concatenate(kFailurePrefix, text, "\n"));
  if (!Settings.DebugEnabled) return;
  std::string_view prefix = isFailure ? kFailurePrefix : kInfoPrefix;
  if (Settings.DebugFile.IsSet()) {
    AppendToDebugFile(prefix, text);
  } else if (!isFailure) {
    ConsolePrint(Concatenate(kInfoPrefix, text, "\n"));
  }
}

std::string StartDebugFile(const std::vector<std::string_view>& inputFiles) {
  std::string_view path = Settings.DebugFile.view();
  ConsolePrint(Concatenate("-RyMail-Info, Initializing Debug File [", path, "]\n"));
  for (std::string_view input : inputFiles) {
    if (!input.empty() && input != "-" && platform::IsSameFile(Settings.DebugFile.c_str(), std::string(input).c_str())) {
      return Concatenate("\n-RyMail-FAIL, The debug file [", path, "] is an input file.\n\n");
    }
  }
  platform::FileHandle file = platform::CreateOrTruncate(Settings.DebugFile.c_str());
  if (file == platform::kNoFile) return Concatenate("-RyMail-FAIL, Failed to open the debug file [", path, "].\n");
  char time[kTimeTextCapacity];
  StartTimeText(time);
  std::string line = Concatenate("Initiated RyMail at ", time, "\n");
  auto sink = [file](const char* data, std::size_t length) { return platform::WriteFile(file, data, length); };
  platform::WriteTextMode(line, sink);
  platform::CloseFile(file);
  return {};
}
