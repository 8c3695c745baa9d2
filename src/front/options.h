// The command-line option walk: option word, value, option word, value...
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "front/mail_settings.h"
#include "platform/environment.h"

/// Walks the arguments after the program name into Settings. "-d" starts the
/// debug log as the walk reaches it. Returns the failure text to print (the
/// run then ends with status 1), or an empty text.
std::string ParseOptions(int argc, const char* const* argv);

/// Stores a value whole into a setting. Refuses, with the failure text, a
/// value longer than the field holds or, when singleLine, one with a CR or LF.
std::string StoreSetting(Field& field, std::string_view name, std::string_view value, bool singleLine);

/// The files the environment names for the run to read (the password and
/// CA files), which a debug file must not empty.
std::vector<std::string_view> InputFilesOfTheEnvironment(const platform::Environment& environment);

/// Turns the diagnostic log on for a "-d" or ryDebugFile value: "S" or "s"
/// is the screen, any other value names the debug file, which is started
/// (refused when it is one of inputFiles). Returns the failure text to print
/// (the run then ends with status 1), or an empty text.
std::string EnableDebugLog(std::string_view value, const std::vector<std::string_view>& inputFiles);

/// The framed failure line: an empty line, the failure prefix, the text, an empty line.
std::string FramedFailure(std::string_view text);
