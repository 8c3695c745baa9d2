#include "platform/process.h"

#include <windows.h>

namespace platform {

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::GetCurrentProcessId()); }

}  // namespace platform
