#include "platform/environment.h"

#include <windows.h>

namespace platform {

const Environment& ProcessEnvironment() {
  // The block lives until the process ends: the entries point into it.
  static const Environment snapshot = [] {
    std::vector<std::string_view> entries;
    if (const char* block = ::GetEnvironmentStringsA()) {
      for (const char* entry = block; *entry != '\0'; entry += std::string_view(entry).size() + 1) {
        entries.emplace_back(entry);
      }
    }
    return Environment(std::move(entries));
  }();
  return snapshot;
}

}  // namespace platform
