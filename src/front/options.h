// The command-line option walk: option word, value, option word, value...
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "front/mail_settings.h"
#include "front/refusal.h"
#include "platform/environment.h"

/// Walks the arguments after the program name into Settings. "-d" starts the
/// debug log and "--result-file" creates its file as the walk reaches them.
/// Returns the refusal that ends the run, or an empty one.
Refusal ParseOptions(int argc, const char* const* argv);

/// Refuses a value of the named setting that is longer than maxLength or,
/// when singleLine, holds a CR or LF.
Refusal CheckSetting(std::string_view name, std::string_view value, std::size_t maxLength, bool singleLine);

/// Stores a value whole into a setting. Refuses a value longer than the
/// field holds or, when singleLine, one with a CR or LF.
template <std::size_t Capacity>
Refusal StoreSetting(TextField<Capacity>& field, std::string_view name, std::string_view value, bool singleLine) {
  Refusal refused = CheckSetting(name, value, TextField<Capacity>::kMaxLength, singleLine);
  if (refused.empty()) field.Assign(value);
  return refused;
}

/// Whether value is one of values.
bool OneOf(std::string_view value, std::initializer_list<std::string_view> values);

/// Stores an ExitCodes value ("simple" or "sysexits"); refuses any other.
Refusal StoreExitCodes(std::string_view value);

/// The files the environment names for the run to read (the password and
/// CA files), which a debug file must not empty.
std::vector<std::string_view> InputFilesOfTheEnvironment(const platform::Environment& environment);

/// Turns the diagnostic log on for a "-d" or ryDebugFile value: "S" or "s"
/// is the screen, any other value names the debug file, which is started
/// (refused when it is one of inputFiles, or cannot be created).
Refusal EnableDebugLog(std::string_view value, const std::vector<std::string_view>& inputFiles);

/// Takes a "--result-file" or ryResultFile value: "-" is standard output,
/// any other value names a file that is created or emptied now (refused when
/// it is one of inputFiles or the debug file, or cannot be created).
Refusal StartResultFile(std::string_view value, const std::vector<std::string_view>& inputFiles);

/// The framed failure line: an empty line, the failure prefix, the text, an empty line.
std::string FramedFailure(std::string_view text);
