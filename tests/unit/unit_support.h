// Shared pieces of the unit tests: a clean settings record and a captured console.
#pragma once

#include <string>

#include "platform/console.h"
#include "front/mail_settings.h"

/// Resets Settings and captures console output for the test's lifetime.
class CleanRun {
 public:
  CleanRun() : previous_(SetConsoleSink(&Capture)) {
    Settings = MailSettings();
    Captured().clear();
  }
  ~CleanRun() { SetConsoleSink(previous_); }
  /// Console bytes so far, already in text mode.
  static std::string& Captured() {
    static std::string text;
    return text;
  }

 private:
  static bool Capture(const char* data, std::size_t length) {
    Captured().append(data, length);
    return true;
  }
  ConsoleSink previous_;
};
