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

namespace {

// Reads a JSON string at text[at] (its opening quote), decoded; at moves past it.
bool ReadJsonString(const std::string& text, std::size_t& at, std::string& value) {
  if (at >= text.size() || text[at] != '"') return false;
  for (++at; at < text.size(); ++at) {
    char c = text[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c != '\\') {
      value.push_back(c);
      continue;
    }
    if (++at >= text.size()) return false;
    switch (text[at]) {
      case 'n': value.push_back('\n'); break;
      case 'r': value.push_back('\r'); break;
      case 't': value.push_back('\t'); break;
      case 'u':
        if (at + 4 >= text.size()) return false;
        value.push_back(static_cast<char>(std::stoi(text.substr(at + 1, 4), nullptr, 16)));
        at += 4;
        break;
      default: value.push_back(text[at]);
    }
  }
  return false;
}

// Skips one JSON value that is not a string: up to the comma or brace that ends it.
bool SkipJsonValue(const std::string& text, std::size_t& at) {
  int depth = 0;
  for (; at < text.size(); ++at) {
    char c = text[at];
    if (c == '"') {
      std::string ignored;
      if (!ReadJsonString(text, at, ignored)) return false;
      --at;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    } else if ((c == ',' || c == '}') && depth == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::map<std::string, std::string> ParseJsonLine(const std::string& line) {
  std::map<std::string, std::string> members;
  if (line.size() < 3 || line.front() != '{' || line.substr(line.size() - 2) != "}\n" ||
      line.find('\n') != line.size() - 1) {
    return {};
  }
  std::size_t at = 1;
  while (at < line.size() && line[at] != '}') {
    std::string key, value;
    if (!ReadJsonString(line, at, key) || at >= line.size() || line[at++] != ':') return {};
    if (line[at] == '"') {
      if (!ReadJsonString(line, at, value)) return {};
    } else {
      std::size_t start = at;
      if (!SkipJsonValue(line, at)) return {};
      value = line.substr(start, at - start);
    }
    members[key] = value;
    if (line[at] == ',') ++at;
  }
  return members;
}
