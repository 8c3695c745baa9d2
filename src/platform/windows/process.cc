#include "platform/process.h"

#include <windows.h>

namespace platform {

// Windows has no SIGPIPE, and a missing standard handle makes console writes fail harmlessly.
void PrepareProcess() {}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::GetCurrentProcessId()); }

}  // namespace platform
