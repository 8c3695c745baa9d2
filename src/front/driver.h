// The program from start to end: the one place where a run ends.
#pragma once

#include "smtp/session.h"

/// Runs RyMail once over the arguments and returns the exit status.
int RunRyMail(int argc, const char* const* argv);

/// The end of a run once the delivery has returned: the success line and log
/// record, or the failure record, then the result file. Returns the exit
/// status in the mode Settings.ExitCodes names.
int FinishRun(const Delivery& delivery);
