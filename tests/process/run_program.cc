#include "process/run_program.h"

#include <chrono>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Runs a command with the test's own environment, all its standard streams
// on /dev/null (so nothing it leaves running holds a test's pipes), and waits.
void RunQuietly(std::vector<std::string> command) {
  std::vector<char*> pointers = PointersTo(command);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  pid_t child = -1;
  if (::posix_spawn(&child, pointers[0], &actions, nullptr, pointers.data(), environ) == 0) {
    ::waitpid(child, nullptr, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
}

// Wine makes its sockets in the wineserver, so the server must live in this
// process's network namespace; a persistent one also spares every run the
// seconds a passing server holds the output pipe.
void StartWineServerHere() {
  static bool started = false;
  if (started) return;
  started = true;
  RunQuietly({"/usr/lib/wine/wineserver", "-k"});
  RunQuietly({"/usr/lib/wine/wineserver", "-p"});
  // The first program starts wine's own services; they must not inherit a test's pipes.
  RunQuietly({"/usr/lib/wine/wine64", "wineboot"});
  std::atexit([] { RunQuietly({"/usr/lib/wine/wineserver", "-k"}); });
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                      int timeoutSeconds, const std::string& standardInput) {
  RunOptions options;
  options.timeoutSeconds = timeoutSeconds;
  options.standardInput = standardInput;
  return RunProgram(arguments, environment, options);
}

ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                      const RunOptions& options) {
  ProgramRun run;
  int timeoutSeconds = options.timeoutSeconds;
  const std::string& standardInput = options.standardInput;
  std::vector<std::string> argv{RYMAIL_BINARY};
  std::vector<std::string> envp = environment;
  // RYMAIL_WINDOWS_PROGRAM names RyMail.exe: the same tests then run it under
  // wine, which needs its own variables passed through.
  if (const char* windows = std::getenv("RYMAIL_WINDOWS_PROGRAM"); windows && *windows) {
    StartWineServerHere();
    argv = {"/usr/lib/wine/wine64", windows};
    for (const char* name : {"WINEPREFIX", "WINEDEBUG", "HOME"}) {
      if (const char* value = std::getenv(name)) envp.push_back(std::string(name) + "=" + value);
    }
  }
  // Under RYMAIL_VALGRIND=1 every run goes through memcheck: an error or a
  // definite leak shows on standard error, which the tests expect empty.
  if (const char* valgrind = std::getenv("RYMAIL_VALGRIND"); valgrind && std::string(valgrind) == "1") {
    argv.insert(argv.begin(), {"/usr/bin/valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                               "--errors-for-leak-kinds=definite", "--show-leak-kinds=definite",
                               "--suppressions=" RYMAIL_SOURCE_DIR "/tests/process/valgrind.supp"});
    timeoutSeconds *= 4;
  }
  if (options.unprivileged) {
    // No capabilities, and none regained at exec: root's files are then closed to it too.
    argv.insert(argv.begin(), {"/usr/bin/setpriv", "--securebits", "+noroot", "--inh-caps", "-all",
                               "--bounding-set", "-all", "--"});
  }
  if (!options.replacedFiles.empty()) {
    std::string script;
    for (const auto& [path, file] : options.replacedFiles) {
      script += "mount --bind '" + file + "' '" + path + "' || exit 125; ";
    }
    argv.insert(argv.begin(), {"/usr/bin/unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
                               script + "exec \"$@\"", "sh"});
  }
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> argvPointers = PointersTo(argv);
  std::vector<char*> envPointers = PointersTo(envp);

  int out[2], err[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!options.inheritStandardInput) posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  if (options.output == RunOptions::Output::kClosed) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  }
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  // The test process ignores SIGPIPE; the program must not inherit that.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t child = -1;
  int spawned =
      ::posix_spawn(&child, argv[0].c_str(), &actions, &attributes, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out[1]);
  ::close(err[1]);
  ::close(in[0]);
  // A reader that has gone: every write to standard output meets a broken pipe.
  if (options.output == RunOptions::Output::kReaderGone) {
    ::close(out[0]);
    out[0] = -1;
  }
  if (spawned == 0 && !standardInput.empty()) {
    std::signal(SIGPIPE, SIG_IGN);
    [[maybe_unused]] ssize_t ignored = ::write(in[1], standardInput.data(), standardInput.size());
  }
  ::close(in[1]);
  if (spawned != 0) {
    if (out[0] >= 0) ::close(out[0]);
    ::close(err[0]);
    return run;
  }
  if (options.started) options.started(static_cast<int>(child));

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.output, &run.errors};
  int open = out[0] >= 0 ? 2 : 1;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.timedOut = true;
      ::kill(child, SIGKILL);
      break;
    }
    if (::poll(streams, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) continue;
      char buffer[4096];
      ssize_t got = ::read(streams[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        ::close(streams[i].fd);
        streams[i].fd = -1;
        --open;
      }
    }
  }
  for (pollfd& stream : streams) {
    if (stream.fd >= 0) ::close(stream.fd);
  }
  int waitStatus = 0;
  ::waitpid(child, &waitStatus, 0);
  if (WIFEXITED(waitStatus)) run.status = WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) run.signal = WTERMSIG(waitStatus);
  return run;
}
