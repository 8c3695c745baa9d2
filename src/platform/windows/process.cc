#include "platform/process.h"

#include <windows.h>

namespace platform {

// Windows has no SIGPIPE, and a missing standard handle makes console writes fail harmlessly.
void PrepareProcess() {}

// Windows keeps other users' processes out already, and has no switch for core files.
void KeepMemoryPrivate() {}

void ForgetEnvironmentValue(const char* name) { ::SetEnvironmentVariableA(name, nullptr); }

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::GetCurrentProcessId()); }

}  // namespace platform
