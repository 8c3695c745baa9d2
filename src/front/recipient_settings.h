// The settings of many recipients: Cc and Bcc lists, EHLO on a plain
// connection, and what a refused recipient does to the run.
#pragma once

#include "front/refusal.h"
#include "platform/environment.h"

/// Completes Cc, Bcc, Ehlo and OnRefused from the environment (an option
/// wins over its variable) and checks them. Returns the refusal that ends
/// the run (before any network activity), or an empty one.
Refusal CompleteRecipientSettings(const platform::Environment& environment);
