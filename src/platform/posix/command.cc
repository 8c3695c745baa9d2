#include "platform/command.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fixed_text.h"
#include "platform/shared.h"

extern char** environ;

namespace platform {
namespace {

constexpr int kSliceMs = 20;  // how often the shell's end is looked for while its output is quiet

// Starts /bin/sh -c command in a process group of its own, its output into writer.
pid_t StartShell(const char* command, int writer) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writer, 1);
  // This program ignores SIGPIPE; the command gets every signal at its default.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  char shell[] = "/bin/sh";
  char option[] = "-c";
  char* argv[] = {shell, option, const_cast<char*>(command), nullptr};
  pid_t child = -1;
  if (::posix_spawn(&child, shell, &actions, &attributes, argv, environ) != 0) child = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return child;
}

}  // namespace

CommandRun RunForFirstLine(const char* command, char* line, std::size_t capacity, int timeoutMs) {
  CommandRun run;
  // A SIGCHLD ignored by whoever started this program would take the exit status away.
  std::signal(SIGCHLD, SIG_DFL);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return run;
  pid_t child = StartShell(command, ends[1]);
  ::close(ends[1]);
  int reader = ends[0];
  if (child < 0) {
    ::close(reader);
    return run;
  }
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  FirstLineSink sink{line, capacity};
  char chunk[4096];
  int status = 0;
  bool exited = false;
  run.end = CommandEnd::kExited;
  for (;;) {
    if (!exited) exited = ::waitpid(child, &status, WNOHANG) == child;
    if (reader < 0 && exited) break;
    int left = RemainingMs(deadline);
    if (left == 0) {
      ::kill(-child, SIGKILL);
      while (!exited && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      run.end = CommandEnd::kTimedOut;
      break;
    }
    pollfd output{reader, POLLIN, 0};
    // Once the shell has ended, only what is already in the pipe is read:
    // a process it left behind may hold the pipe open for good.
    int ready = ::poll(&output, reader < 0 ? 0 : 1, exited ? 0 : (left < kSliceMs ? left : kSliceMs));
    if (ready > 0) {
      ssize_t got = ::read(reader, chunk, sizeof chunk);
      if (got > 0) {
        sink.Take(chunk, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(reader);
        reader = -1;
      }
    } else if (exited) {
      break;
    }
  }
  if (reader >= 0) ::close(reader);
  WipeBytes(chunk, sizeof chunk);
  run.length = sink.length;
  if (run.end == CommandEnd::kExited && WIFSIGNALED(status)) {
    run.end = CommandEnd::kSignalled;
    run.code = static_cast<unsigned long>(WTERMSIG(status));
  } else if (run.end == CommandEnd::kExited) {
    run.code = static_cast<unsigned long>(WEXITSTATUS(status));
  }
  return run;
}

}  // namespace platform
