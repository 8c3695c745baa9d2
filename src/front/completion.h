// Settings completion: what the command line left missing or short is taken
// from the environment or from defaults, in a fixed order.
#pragma once

#include <string>

#include "front/refusal.h"
#include "platform/environment.h"

constexpr char kPlaceholderSender[] = "rymail-sender@example.com";
constexpr char kPlaceholderRecipient[] = "rymail-recipient@example.com";
constexpr char kPlaceholderList[] = "rymail-list@example.com";

/// Completes Settings from the environment. Returns the refusal that ends
/// the run, or an empty one.
Refusal CompleteSettings(const platform::Environment& environment);
