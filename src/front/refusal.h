// A run refused before the delivery: the text to print and its class.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "smtp/result.h"

struct Refusal {
  std::string text;  // printed as it stands; empty when nothing was refused
  Outcome outcome = Outcome::kUsage;

  Refusal() = default;
  Refusal(std::string failure, Outcome kind = Outcome::kUsage) : text(std::move(failure)), outcome(kind) {}
  Refusal(const char* failure, Outcome kind = Outcome::kUsage) : text(failure), outcome(kind) {}

  bool empty() const { return text.empty(); }
  friend bool operator==(const Refusal& refusal, std::string_view text) { return refusal.text == text; }
};
