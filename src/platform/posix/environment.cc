#include "platform/environment.h"

#include <unistd.h>

namespace platform {

const Environment& ProcessEnvironment() {
  static const Environment snapshot = [] {
    std::vector<std::string_view> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) entries.emplace_back(*entry);
    return Environment(std::move(entries));
  }();
  return snapshot;
}

}  // namespace platform
