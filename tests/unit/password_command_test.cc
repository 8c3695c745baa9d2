// The password command: the first line a shell command prints, its exit
// status, and the bound that kills it and what it started.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "front/submission_settings.h"
#include "platform/command.h"
#include "test_files.h"
#include "unit/unit_support.h"

namespace {

using platform::CommandEnd;
using Clock = std::chrono::steady_clock;

// The shell the command runs in: cmd.exe in the Windows build, sh elsewhere.
#ifdef _WIN32
constexpr bool kCmd = true;
#else
constexpr bool kCmd = false;
#endif

// Whether the process is gone, or dead and waiting to be reaped.
bool Ended(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string field, name, state;
  return !(stat >> field >> name >> state) || state == "Z";
}

TEST(PasswordCommand, FirstLineExitStatusAndBound) {
  TempDir dir;
  std::string pidFile = dir.path() + "/pid";
  constexpr std::size_t kRoom = 16;
  struct Case {
    const char* name;
    std::string sh;
    std::string cmd;  // empty: not run on Windows
    int boundMs;
    CommandEnd end;
    unsigned long code;
    std::string line;
  } cases[] = {
      {"the first line with its CR LF", "printf 'tok en\\r\\nsecond\\n'", "echo tok en&& echo second", 20000,
       CommandEnd::kExited, 0, "tok en\r\n"},
      {"a failure's exit status", "printf 'partial\\r\\n'; exit 3", "echo partial&& exit 3", 20000,
       CommandEnd::kExited, 3, "partial\r\n"},
      {"nothing printed", "exit 0", "exit 0", 20000, CommandEnd::kExited, 0, ""},
      {"a line longer than the room", "printf 'abcdefghijklmnopqrstuvwxyz\\n'", "echo abcdefghijklmnopqrstuvwxyz",
       20000, CommandEnd::kExited, 0, "abcdefghijklmnop"},
      {"much output after the first line is read away", "printf 'token\\r\\n'; seq 1 200000",
       "echo token&& for /l %i in (1,1,3000) do @echo 0123456789012345678901234567890123456789", 20000,
       CommandEnd::kExited, 0, "token\r\n"},
      {"a process left behind holding the output", "sleep 30 2>/dev/null & printf 'token\\r\\n'", "", 60000,
       CommandEnd::kExited, 0, "token\r\n"},
      {"killed at the bound with what it started", "sleep 30 2>/dev/null & echo $! >" + pidFile + "; sleep 30",
       "for /l %i in (1,0,2) do @rem", 500, CommandEnd::kTimedOut, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& command = kCmd ? c.cmd : c.sh;
    if (command.empty()) continue;
    char line[kRoom];
    Clock::time_point start = Clock::now();
    platform::CommandRun run = platform::RunForFirstLine(command.c_str(), line, kRoom, c.boundMs);
    // Ceilings that only a run waiting for a sleep of 30 s would reach.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(run.end, c.end);
    EXPECT_EQ(run.code, c.code);
    EXPECT_EQ(std::string(line, run.length), c.line);
  }
  if (!kCmd) {
    std::string pid = ReadWholeFile(pidFile);
    pid = pid.substr(0, pid.find('\n'));
    ASSERT_FALSE(pid.empty());
    for (int tries = 0; tries < 100 && !Ended(pid); ++tries) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(Ended(pid)) << "the command's own child outlived the bound";
  }
}

TEST(PasswordCommand, PastItsBoundRefusesTheRun) {
  CleanRun run;
  Settings.PasswordCommand.Assign(kCmd ? "for /l %i in (1,0,2) do @rem" : "echo early; sleep 30");
  Refusal refused = ReadPasswordCommand(std::chrono::milliseconds(300));
  EXPECT_EQ(refused.text, "\n-RyMail-FAIL, The PasswordCommand took too long and was stopped.\n\n");
  EXPECT_EQ(refused.outcome, Outcome::kInput);
  EXPECT_FALSE(Settings.Password.IsSet());
}

}  // namespace
