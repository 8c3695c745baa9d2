#include "platform/exit_status.h"

#include <cstdlib>

void EndRun(ExitStatus status) { std::exit(status); }
