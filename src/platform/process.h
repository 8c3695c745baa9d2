// Facts about the running process.
#pragma once

namespace platform {

unsigned long CurrentProcessId();

}  // namespace platform
