// The program from start to end.
#pragma once

/// Runs RyMail once over the arguments and returns the exit status. Some
/// failures end the process before it returns.
int RunRyMail(int argc, const char* const* argv);

/// The end of a run once the delivery has returned: the success line and log
/// record, or the failure record. Returns the exit status.
int FinishRun(bool delivered);
