// Facts about the running process, and its set-up before anything runs.
#pragma once

namespace platform {

/// Sets the process up before anything is written or opened: a write to a
/// pipe whose reader has gone fails instead of ending the process, and each
/// closed standard descriptor (0, 1, 2) is opened onto the null device, so
/// no file or socket the program opens can take its number. Cannot fail; a
/// step that does not work is left undone.
void PrepareProcess();

/// The process id; cannot fail.
unsigned long CurrentProcessId();

}  // namespace platform
