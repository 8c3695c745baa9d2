// Temporary files and the masking of texts that change from run to run.
#pragma once

#include <string>

/// A directory of its own for one test, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  /// Writes a file in the directory and returns its path.
  std::string Write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

std::string ReadWholeFile(const std::string& path);

/// Replaces each time text ("Mon Dec 07 22:07:17 2026") with <TIME>, each
/// Message-ID value with <ID> and each Date header's date with <DATE>, so
/// whole outputs can be compared exactly.
std::string MaskVolatile(const std::string& text);

#include <map>

/// The members of one JSON object, as RyMail's result line writes it: each
/// string value decoded (\u00XX as that byte), every other value as its JSON
/// text ("null", "25", "[...]"). Empty when the text is not one object on
/// one line ended by LF.
std::map<std::string, std::string> ParseJsonLine(const std::string& line);
