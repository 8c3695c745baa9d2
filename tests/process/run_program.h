// Runs the built RyMail and collects what it printed and how it ended.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
  int status = -1;     // exit status; -1 when it did not exit normally
  std::string output;  // standard output, byte for byte
  std::string errors;  // standard error, which the program never uses
  bool timedOut = false;
};

/// Runs RyMail with the arguments (after the program name) and exactly the
/// given environment entries; kills it after timeoutSeconds. With
/// RYMAIL_VALGRIND=1 in the test's environment, it runs under memcheck.
ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                      int timeoutSeconds = 60, const std::string& standardInput = "");
