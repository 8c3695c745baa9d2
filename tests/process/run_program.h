// Runs the built RyMail and collects what it printed and how it ended.
#pragma once

#include <functional>
#include <string>
#include <vector>
#include <utility>

struct ProgramRun {
  int status = -1;     // exit status; -1 when it did not exit normally
  int signal = 0;      // the signal that ended it, if one did
  std::string output;  // standard output, byte for byte
  std::string errors;  // standard error, which the program never uses
  bool timedOut = false;
};

/// How the program's standard streams and rights are set up.
struct RunOptions {
  int timeoutSeconds = 60;
  std::string standardInput;          // written to its standard input, which then ends
  bool inheritStandardInput = false;  // the caller's own standard input instead
  enum class Output { kCaptured, kClosed, kReaderGone };
  Output output = Output::kCaptured;  // kClosed: started with descriptor 1 closed (">&-")
  bool unprivileged = false;          // without capabilities, even as root
  // System files seen differently by this run only: each file (second) is
  // bind-mounted over the path (first) in a mount namespace of the run's own.
  std::vector<std::pair<std::string, std::string>> replacedFiles;
  // Told the process id as soon as the program started, before the run is waited for.
  std::function<void(int processId)> started;
};

/// Runs RyMail with the arguments (after the program name) and exactly the
/// given environment entries, as a shell starts it: every signal at its
/// default and none blocked. Kills it after the timeout. With
/// RYMAIL_VALGRIND=1 in the test's environment, it runs under memcheck.
ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                      const RunOptions& options);
ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                      int timeoutSeconds = 60, const std::string& standardInput = "");
