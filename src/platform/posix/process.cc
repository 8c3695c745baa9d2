#include "platform/process.h"

#include <unistd.h>

namespace platform {

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace platform
