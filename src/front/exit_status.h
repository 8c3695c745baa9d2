// How a run ends: its exit status.
#pragma once

#include "smtp/result.h"

enum ExitStatus : int {
  kExitSuccess = 0,  // mail sent, or help shown
  kExitFailure = 1,  // any failure, with simple exit codes
  kExitPartial = 2,  // sent, with some recipients refused
  // With sysexits (the values of BSD's <sysexits.h>):
  kExitUsage = 64,
  kExitNoInput = 66,
  kExitNoHost = 68,
  kExitUnavailable = 69,
  kExitSoftware = 70,
  kExitOsError = 71,
  kExitCantCreate = 73,
  kExitTemporary = 75,
  kExitProtocol = 76,
  kExitNoPermission = 77,
  kExitConfiguration = 78,
};

/// The status of a run that ended so, with simple exit codes (0, 1, 2) or
/// with sysexits.
ExitStatus StatusFor(Outcome outcome, bool sysexits);
