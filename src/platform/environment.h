// The process environment as it was at start, searched by name without regard
// to case: the first entry in the environment's order wins.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace platform {

class Environment {
 public:
  Environment() = default;
  /// Entries of the form NAME=value; an entry without '=' is ignored.
  explicit Environment(std::vector<std::string_view> entries) : entries_(std::move(entries)) {}

  /// The value of the first entry whose name matches; nothing when absent.
  std::optional<std::string_view> Find(std::string_view name) const;

 private:
  std::vector<std::string_view> entries_;
};

/// The environment the process received.
const Environment& ProcessEnvironment();

}  // namespace platform
