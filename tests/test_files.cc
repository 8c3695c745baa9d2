#include "test_files.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    std::filesystem::path candidate =
        std::filesystem::temp_directory_path() / ("rymail-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) path_ = candidate.string();
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
  std::string file = path_ + "/" + name;
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::string MaskVolatile(const std::string& text) {
  static const std::regex time("[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
  static const std::regex id(
      "<[A-Z][a-z]{2}-[A-Z][a-z]{2}-[0-9]{2}-[0-9]{2}\\.[0-9]{2}\\.[0-9]{2}-[0-9]{4}\\.[0-9]+\\.[0-9a-f]{8}@localhost>");
  static const std::regex date("Date: [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}");
  std::string masked = std::regex_replace(std::regex_replace(text, time, "<TIME>"), id, "<ID>");
  return std::regex_replace(masked, date, "Date: <DATE>");
}
