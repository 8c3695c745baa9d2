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
