#include "front/driver.h"

#include <cstring>
#include <string>

#include "front/completion.h"
#include "front/connect_settings.h"
#include "front/exit_status.h"
#include "front/help.h"
#include "front/mail_settings.h"
#include "front/options.h"
#include "front/result_file.h"
#include "identity/identity.h"
#include "log/log.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/tls.h"
#include "smtp/send_mail.h"

namespace {

constexpr char kFailedToSend[] = "Failed to send the mail.";

// A printed failure without its framing and prefix.
std::string_view FailureText(std::string_view printed) {
  while (!printed.empty() && printed.front() == '\n') printed.remove_prefix(1);
  while (!printed.empty() && printed.back() == '\n') printed.remove_suffix(1);
  for (std::string_view prefix : {"-RyMail-FAIL, ", "-RyMail-F-FAIL, "}) {
    if (printed.substr(0, prefix.size()) == prefix) return printed.substr(prefix.size());
  }
  return printed;
}

// The status, the result file, and nothing of the secret left behind.
int EndRun(const Delivery& run, std::string_view failure) {
  Settings.Password.Wipe();
  ExitStatus status = StatusFor(run.end.outcome, Settings.ExitCodes.view() == "sysexits");
  WriteResultFile(ResultLine(run, status, failure));
  return status;
}

int Refuse(const Refusal& refused) {
  ConsolePrint(refused.text);
  Delivery run;
  run.end.outcome = refused.outcome;
  run.end.step = Step::kSettings;
  return EndRun(run, FailureText(refused.text));
}

}  // namespace

ExitStatus StatusFor(Outcome outcome, bool sysexits) {
  if (outcome == Outcome::kAccepted) return kExitSuccess;
  if (outcome == Outcome::kPartial) return kExitPartial;
  if (!sysexits) return kExitFailure;
  switch (outcome) {
    case Outcome::kTemporary:
    case Outcome::kUnknown:
      return kExitTemporary;
    case Outcome::kRefused:
      return kExitUnavailable;
    case Outcome::kLoginRefused:
      return kExitNoPermission;
    case Outcome::kNoHost:
      return kExitNoHost;
    case Outcome::kProtocol:
      return kExitProtocol;
    case Outcome::kUsage:
      return kExitUsage;
    case Outcome::kInput:
      return kExitNoInput;
    case Outcome::kOutput:
      return kExitCantCreate;
    case Outcome::kSystem:
      return kExitOsError;
    case Outcome::kConfiguration:
      return kExitConfiguration;
    case Outcome::kAccepted:
    case Outcome::kPartial:
    case Outcome::kInternal:
      break;
  }
  return kExitSoftware;
}

int RunRyMail(int argc, const char* const* argv) {
  platform::PrepareProcess();
  StartTime = platform::CurrentTime();
  if (argc < 2 || std::strcmp(argv[1], "-H") == 0) {
    ShowHelp();
    return kExitSuccess;
  }
  if (std::strcmp(argv[1], "--help") == 0) {
    ShowLongHelp();
    return kExitSuccess;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    ConsolePrint("RyMail " RYMAIL_VERSION " (TLS: " + platform::TlsLibraryVersion() + ")\n");
    return kExitSuccess;
  }
  const platform::Environment& environment = platform::ProcessEnvironment();
  BuildMessageIdBase();
  ReadOriginator(environment);
  // Read before the option walk, so that its refusals have their status too;
  // an invalid value is refused after the walk, unless an option replaced it.
  if (auto value = environment.Find("ryExitCodes"); value && OneOf(*value, {"simple", "sysexits"})) {
    Settings.ExitCodes.Assign(*value);
  }

  Refusal refused = ParseOptions(argc, argv);
  if (refused.empty()) refused = CompleteSettings(environment);
  // The password has been read where it was going to be: nothing else may read it now.
  if (Settings.Password.IsSet()) platform::KeepMemoryPrivate();
  platform::ForgetEnvironmentValue("ryPassword");
  if (!refused.empty()) return Refuse(refused);

  return FinishRun(SendMail(DeliveryBounds()));
}

int FinishRun(const Delivery& delivery) {
  // A dry run has said where the message went.
  if (delivery.dryRun && delivery.Accepted()) return EndRun(delivery, {});
  if (delivery.Sent()) {
    ConsolePrint("\n-RyMail-Info, Your mail has been sent.\n\n");
    LogMessage("Your mail has been sent.\n", false);
    if (delivery.Accepted()) return EndRun(delivery, {});
    std::string refused = std::to_string(delivery.refused.size()) + " of " +
                          std::to_string(delivery.accepted + delivery.refused.size()) + " recipients refused";
    LogMessage(refused, true);
    return EndRun(delivery, delivery.end.failure.empty() ? std::string_view(refused)
                                                         : std::string_view(delivery.end.failure));
  }
  // After "Previous response was not expected!" nothing more is said.
  if (!delivery.end.unexpected) LogMessage(kFailedToSend, true);
  return EndRun(delivery, delivery.end.failure.empty() ? std::string_view(kFailedToSend)
                                                       : std::string_view(delivery.end.failure));
}
