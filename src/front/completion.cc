#include "front/completion.h"

#include "front/connect_settings.h"
#include "platform/console.h"
#include "front/mail_settings.h"
#include "front/options.h"
#include "front/recipient_settings.h"
#include "front/submission_settings.h"
#include "front/text_settings.h"
#include "log/log.h"

namespace {

constexpr std::size_t kMinimumAddressLength = 5;
constexpr std::size_t kMinimumHeloLength = 3;

const char kFailMailFrom[] = "\n-RyMail-FAIL, Failed to get a valid MailFrom value.\n\n";
const char kFailMailTo[] = "\n-RyMail-FAIL, Failed to get a valid MailTo value.\n\n";
const char kFailGateway[] = "\n-RyMail-FAIL, Failed to get a valid Gateway address.\n\n";
const char kFailHelo[] = "\n-RyMail-FAIL, Failed to get a valid Helo value.\n\n";
const char kFailInputFile[] = "\n-RyMail-FAIL, Failed to get a valid Input File.\n\n";

// A setting that must end up with a minimum length: taken from its variable when short.
Refusal RequireMinimum(const platform::Environment& environment, Field& field, const char* name,
                           const char* variable, std::size_t minimum, const char* failure) {
  if (field.Length() >= minimum) return {};
  auto value = environment.Find(variable);
  if (!value) return failure;
  if (Refusal refused = StoreSetting(field, name, *value, true); !refused.empty()) return refused;
  return field.Length() >= minimum ? Refusal() : Refusal(failure);
}

// A header text taken from its variable, or a placeholder when that leaves it empty.
Refusal FromVariableOr(Field& field, const char* name, std::string_view value, const char* placeholder) {
  if (Refusal refused = StoreSetting(field, name, value, true); !refused.empty()) return refused;
  if (!field.IsSet()) field.Assign(placeholder);
  return {};
}

// Every file the run reads, as far as the settings name them now.
std::vector<std::string_view> InputFilesOfTheRun(const platform::Environment& environment) {
  const MailSettings& s = Settings;
  std::vector<std::string_view> inputs = InputFilesOfTheEnvironment(environment);
  inputs.insert(inputs.end(), {s.InputFile.view(), s.MailToInputFile.view(), s.PasswordFile.view(), s.CaFile.view()});
  return inputs;
}

}  // namespace

Refusal CompleteSettings(const platform::Environment& environment) {
  MailSettings& s = Settings;
  // Read first, so that every later refusal is reported in them.
  if (!s.ExitCodes.IsSet()) {
    if (auto value = environment.Find("ryExitCodes")) {
      if (Refusal refused = StoreExitCodes(*value); !refused.empty()) return refused;
    }
  }
  if (!s.ResultFile.IsSet()) {
    if (auto value = environment.Find("ryResultFile")) {
      std::vector<std::string_view> inputs = InputFilesOfTheRun(environment);
      if (Refusal refused = StartResultFile(*value, inputs); !refused.empty()) return refused;
    }
  }
  Refusal failure = RequireMinimum(environment, s.MailFrom, "MailFrom", "ryMailFrom", kMinimumAddressLength,
                                       kFailMailFrom);
  if (!failure.empty()) return failure;

  if (!s.From.IsSet()) {
    if (auto value = environment.Find("ryFrom")) {
      failure = FromVariableOr(s.From, "From", *value, kPlaceholderSender);
    } else {
      s.From = s.MailFrom;
    }
    if (!failure.empty()) return failure;
  }

  if (s.MailTo.Length() < kMinimumAddressLength) {
    if (environment.Find("ryMailTo") || !s.MailToInputFile.IsSet()) {
      failure = RequireMinimum(environment, s.MailTo, "MailTo", "ryMailTo", kMinimumAddressLength, kFailMailTo);
      if (!failure.empty()) return failure;
    } else {
      LogMessage("Using MailToInputFile instead of MailTo value", false);
    }
  }

  if (!s.To.IsSet()) {
    if (auto value = environment.Find("ryTo")) {
      failure = FromVariableOr(s.To, "To", *value, kPlaceholderRecipient);
    } else if (s.MailToInputFile.IsSet()) {
      s.To.Assign(kPlaceholderList);
    } else {
      s.To = s.MailTo;
    }
    if (!failure.empty()) return failure;
  }

  if (!s.Subject.IsSet()) {
    auto value = environment.Find("rySubject");
    failure = StoreSetting(s.Subject, "Subject", value.value_or("None"), true);
    if (!failure.empty()) return failure;
  }

  if (s.ReplyTo.Length() < kMinimumAddressLength) {
    if (auto value = environment.Find("ryReplyTo")) {
      failure = StoreSetting(s.ReplyTo, "ReplyTo", *value, true);
      if (!failure.empty()) return failure;
    }
  }

  failure = RequireMinimum(environment, s.Gateway, "Gateway", "ryGateway", kMinimumAddressLength, kFailGateway);
  if (!failure.empty()) return failure;
  failure = RequireMinimum(environment, s.Helo, "Helo", "ryHelo", kMinimumHeloLength, kFailHelo);
  if (!failure.empty()) return failure;

  if (!s.InputFile.IsSet()) return kFailInputFile;

  if (!s.DebugFile.IsSet()) {
    if (auto value = environment.Find("ryDebugFile")) {
      std::vector<std::string_view> inputs = InputFilesOfTheRun(environment);
      failure = EnableDebugLog(*value, inputs);
      if (!failure.empty()) return failure;
    }
  }
  if (Refusal refused = CompleteConnectSettings(environment); !refused.empty()) return refused;
  if (Refusal refused = CompleteSubmissionSettings(environment); !refused.empty()) return refused;
  if (Refusal refused = CompleteRecipientSettings(environment); !refused.empty()) return refused;
  return CompleteTextSettings(environment);
}
