#include "front/driver.h"

#include <cstring>
#include <string>

#include "front/completion.h"
#include "platform/console.h"
#include "platform/exit_status.h"
#include "front/help.h"
#include "front/mail_settings.h"
#include "front/options.h"
#include "identity/identity.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "smtp/send_mail.h"

namespace {

[[noreturn]] void StopWith(const std::string& failure) {
  ConsolePrint(failure);
  EndRun(kExitFailure);
}

}  // namespace

int RunRyMail(int argc, const char* const* argv) {
  platform::PrepareProcess();
  StartTime = platform::CurrentTime();
  if (argc < 2 || std::strcmp(argv[1], "-H") == 0) {
    ShowHelp();
    return kExitSuccess;
  }
  const platform::Environment& environment = platform::ProcessEnvironment();
  BuildMessageIdBase();
  ReadOriginator(environment);

  if (std::string failure = ParseOptions(argc, argv); !failure.empty()) StopWith(failure);
  if (std::string failure = CompleteSettings(environment); !failure.empty()) StopWith(failure);

  return FinishRun(SendMail());
}

int FinishRun(bool delivered) {
  if (delivered) {
    ConsolePrint("\n-RyMail-Info, Your mail has been sent.\n\n");
    LogMessage("Your mail has been sent.\n", false);
    return kExitSuccess;
  }
  LogMessage("Failed to send the mail.", true);
  return kExitFailure;
}
