// The program from start to end.
#pragma once

/// Runs RyMail once over the arguments and returns the exit status. Some
/// failures end the process before it returns.
int RunRyMail(int argc, const char* const* argv);
