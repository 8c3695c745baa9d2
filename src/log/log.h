// The diagnostic log: failures always reach standard output; with the log
// enabled every message also goes to the debug file or to the screen.
#pragma once

#include <string>
#include <string_view>
#include <vector>

constexpr std::string_view kInfoPrefix = "-RyMail-Info, ";
constexpr std::string_view kFailurePrefix = "-RyMail-FAIL, ";

/// Reports one message. The text is data, never a format. In file mode the
/// record is appended by opening and closing the file; a file that can no
/// longer be opened drops the record and the run goes on.
void LogMessage(std::string_view text, bool isFailure);

/// Starts the debug file named in Settings.DebugFile: prints the
/// "Initializing" line, creates or empties the file and writes the
/// "Initiated" line. Refuses, before emptying it, a debug file that is one of
/// the input files (it would be emptied, and its records mailed). Returns the
/// failure text to print when it refuses or the file cannot be created, or
/// an empty text.
std::string StartDebugFile(const std::vector<std::string_view>& inputFiles);
