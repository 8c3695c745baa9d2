// Facts about the running process, and its set-up before anything runs.
#pragma once

namespace platform {

/// Sets the process up before anything is written or opened: a write to a
/// pipe whose reader has gone fails instead of ending the process, and each
/// closed standard descriptor (0, 1, 2) is opened onto the null device, so
/// no file or socket the program opens can take its number. Cannot fail; a
/// step that does not work is left undone.
void PrepareProcess();

/// While the process holds a secret: no core file, and no other process of
/// the same user may read its memory. Nothing where the system has no such
/// setting. Cannot fail.
void KeepMemoryPrivate();

/// Overwrites the value of the environment variable (name without regard
/// to case) in the process's own environment, so that it can no longer be
/// read there (as in /proc/PID/environ). Cannot fail.
void ForgetEnvironmentValue(const char* name);

/// The process id; cannot fail.
unsigned long CurrentProcessId();

}  // namespace platform
