// Runs a command of the user's through the system shell and takes the first
// line it prints: a secret that a helper program hands out.
#pragma once

#include <cstddef>

namespace platform {

/// How a command's run ended.
enum class CommandEnd {
  kExited,      // it ended by itself; code is its exit status
  kSignalled,   // a signal ended it; code is the signal's number
  kTimedOut,    // the bound ran out: it and every process it started were killed
  kNotStarted,  // the shell could not be started (no process, no pipe)
};

struct CommandRun {
  CommandEnd end = CommandEnd::kNotStarted;
  unsigned long code = 0;
  std::size_t length = 0;  // bytes put in line: up to and with the first LF, or all of line
};

/// Runs command with /bin/sh -c (cmd.exe /d /s /c on Windows) in a process
/// group (a job) of its own, standard input from the null device, standard
/// error this program's, standard output read through a pipe. line receives
/// what it prints up to and with the first LF, at most capacity bytes; the
/// rest is read and thrown away until the shell has ended and its output is
/// drained. After timeoutMs it and everything it started are killed. The
/// bytes read pass through no other buffer that is not wiped; line is the
/// caller's to wipe.
CommandRun RunForFirstLine(const char* command, char* line, std::size_t capacity, int timeoutMs);

}  // namespace platform
