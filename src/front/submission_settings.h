// The settings of submission relays: port, TLS, trust anchors, AUTH and the
// password. None of them present: a plain run, exactly as without them.
#pragma once

#include <chrono>
#include <string>

#include "front/refusal.h"
#include "platform/environment.h"

/// Completes the submission settings from the environment (an option wins
/// over its variable), checks their values, and reads the password (from a
/// file, a command or ryPassword) when a User asks for AUTH. Returns the
/// refusal that ends the run (before any network activity), or an empty one.
Refusal CompleteSubmissionSettings(const platform::Environment& environment);

/// How long the PasswordCommand may run before it and what it started are killed.
constexpr std::chrono::milliseconds kPasswordCommandBound = std::chrono::seconds(60);

/// Runs Settings.PasswordCommand (at most bound) and stores the first line it
/// prints as the password. Refuses, without showing the output, a command
/// that cannot start, fails, is killed or printed no password or too long a one.
Refusal ReadPasswordCommand(std::chrono::milliseconds bound);
