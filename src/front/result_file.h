// The result file: one line of JSON that tells a script how the run ended.
#pragma once

#include <string>
#include <string_view>

#include "smtp/session.h"

/// The bytes as a JSON string, quotes included: '"', '\' and control bytes
/// escaped, and each byte that is not part of valid UTF-8 as \u00XX of its value.
std::string JsonString(std::string_view bytes);

/// The result line of a run that ended with the delivery (or refusal) and
/// status, LF included. failure is the first failure text the run printed.
std::string ResultLine(const Delivery& run, int status, std::string_view failure);

/// Writes the line to Settings.ResultFile ("-": standard output, as it
/// stands), when one is set. A write that fails changes nothing.
void WriteResultFile(const std::string& line);
