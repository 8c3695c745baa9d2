// The settings of submission relays: port, TLS, trust anchors, AUTH and the
// password. None of them present: a plain run, exactly as without them.
#pragma once

#include <string>

#include "front/refusal.h"
#include "platform/environment.h"

/// Completes the submission settings from the environment (an option wins
/// over its variable), checks their values, and reads the password when a
/// User asks for AUTH. Returns the refusal that ends the run (before any
/// network activity), or an empty one.
Refusal CompleteSubmissionSettings(const platform::Environment& environment);
