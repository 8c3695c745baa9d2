// How a run ends.
#pragma once

enum ExitStatus : int {
  kExitSuccess = 0,  // mail sent, or help shown
  kExitFailure = 1,  // any failure
};

/// Ends the process with the status; the one place where a run stops early.
[[noreturn]] void EndRun(ExitStatus status);
