#include "platform/command.h"

#include <windows.h>

#include <string>

#include "platform/fixed_text.h"
#include "platform/shared.h"

namespace platform {
namespace {

constexpr DWORD kSliceMs = 20;  // how often the shell's end is looked for while its output is quiet
constexpr DWORD kKilledMs = 5000;  // for the killed processes to be gone

// The system's own cmd.exe, whatever COMSPEC says.
std::string ShellPath() {
  char directory[MAX_PATH];
  UINT length = ::GetSystemDirectoryA(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "cmd.exe";
  return std::string(directory, length) + "\\cmd.exe";
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

CommandRun RunForFirstLine(const char* command, char* line, std::size_t capacity, int timeoutMs) {
  CommandRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  if (!::CreatePipe(&reader, &writer, &inheritable, 0)) return run;
  ::SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
  HANDLE nothing = ::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 OPEN_EXISTING, 0, nullptr);
  HANDLE errors = nullptr;
  HANDLE own = ::GetStdHandle(STD_ERROR_HANDLE);
  if (own == nullptr || own == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &errors, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    errors = nullptr;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = writer;
  startup.hStdError = errors != nullptr ? errors : nothing;
  // /d: no AutoRun commands of the registry, whose output would be taken for
  // the secret; /s: the quotes around the command are the only ones removed.
  std::string shell = ShellPath();
  std::string commandLine = "\"" + shell + "\" /d /s /c \"" + command + "\"";
  PROCESS_INFORMATION process{};
  // Everything the command starts is in its job, which a timeout kills whole.
  HANDLE job = ::CreateJobObjectA(nullptr, nullptr);
  BOOL started = ::CreateProcessA(shell.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                  nullptr, &startup, &process);
  CloseIfOpen(writer);
  CloseIfOpen(nothing);
  CloseIfOpen(errors);
  if (!started) {
    CloseIfOpen(reader);
    CloseIfOpen(job);
    return run;
  }
  bool inJob = job != nullptr && ::AssignProcessToJobObject(job, process.hProcess);
  ::ResumeThread(process.hThread);
  CloseIfOpen(process.hThread);

  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  FirstLineSink sink{line, capacity};
  char chunk[4096];
  bool exited = false;
  run.end = CommandEnd::kExited;
  for (;;) {
    if (!exited) exited = ::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
    DWORD available = 0;
    if (reader != nullptr && !::PeekNamedPipe(reader, nullptr, 0, nullptr, &available, nullptr)) CloseIfOpen(reader);
    if (reader == nullptr && exited) break;
    int left = RemainingMs(deadline);
    if (left == 0) {
      if (!inJob || !::TerminateJobObject(job, 1)) ::TerminateProcess(process.hProcess, 1);
      ::WaitForSingleObject(process.hProcess, kKilledMs);
      run.end = CommandEnd::kTimedOut;
      break;
    }
    if (available > 0) {
      DWORD got = 0;
      if (::ReadFile(reader, chunk, available < sizeof chunk ? available : sizeof chunk, &got, nullptr) && got > 0) {
        sink.Take(chunk, got);
      } else {
        CloseIfOpen(reader);
      }
      continue;
    }
    // Once the shell has ended, only what is already in the pipe is read:
    // a process it left behind may hold the pipe open for good.
    if (exited) break;
    DWORD slice = static_cast<DWORD>(left) < kSliceMs ? static_cast<DWORD>(left) : kSliceMs;
    ::WaitForSingleObject(process.hProcess, slice);
  }
  CloseIfOpen(reader);
  WipeBytes(chunk, sizeof chunk);
  run.length = sink.length;
  DWORD code = 0;
  if (run.end == CommandEnd::kExited && ::GetExitCodeProcess(process.hProcess, &code)) run.code = code;
  CloseIfOpen(process.hProcess);
  CloseIfOpen(job);
  return run;
}

}  // namespace platform
