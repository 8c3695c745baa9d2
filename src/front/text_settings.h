// The settings of the text: a declared character set, standard input, and
// the dry run.
#pragma once

#include "front/refusal.h"
#include "platform/environment.h"

/// Completes Charset and DryRun from the environment (an option wins over
/// its variable) and checks them, and that standard input is named for one
/// file at most. Returns the refusal that ends the run (before any network
/// activity), or an empty one.
Refusal CompleteTextSettings(const platform::Environment& environment);
