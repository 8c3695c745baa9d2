#include "platform/environment.h"

namespace platform {
namespace {

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string_view> Environment::Find(std::string_view name) const {
  for (std::string_view entry : entries_) {
    std::size_t equals = entry.find('=');
    // Windows keeps entries like "=C:=C:\" whose name starts with '='.
    if (equals == std::string_view::npos || equals == 0) continue;
    if (SameNameIgnoringCase(entry.substr(0, equals), name)) return entry.substr(equals + 1);
  }
  return std::nullopt;
}

}  // namespace platform
