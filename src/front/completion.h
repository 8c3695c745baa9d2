// Settings completion: what the command line left missing or short is taken
// from the environment or from defaults, in a fixed order.
#pragma once

#include <string>

#include "platform/environment.h"

constexpr char kPlaceholderSender[] = "rymail-sender@example.com";
constexpr char kPlaceholderRecipient[] = "rymail-recipient@example.com";
constexpr char kPlaceholderList[] = "rymail-list@example.com";

/// Completes Settings from the environment. Returns the failure text to
/// print (the run then ends with status 1), or an empty text.
std::string CompleteSettings(const platform::Environment& environment);
