#include "front/text_settings.h"

#include <string>

#include "front/mail_settings.h"
#include "front/options.h"
#include "platform/file.h"

namespace {

constexpr std::size_t kMaxCharsetLength = 40;

bool IsCharsetName(std::string_view name) {
  if (name.empty() || name.size() > kMaxCharsetLength) return false;
  for (char c : name) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !(c >= '0' && c <= '9') && std::string_view("-_.+").find(c) == std::string_view::npos) return false;
  }
  return true;
}

}  // namespace

Refusal CompleteTextSettings(const platform::Environment& environment) {
  MailSettings& s = Settings;
  if (!s.Charset.IsSet()) {
    if (auto value = environment.Find("ryCharset")) {
      if (Refusal refused = StoreSetting(s.Charset, "Charset", *value, true); !refused.empty()) return refused;
    }
  }
  if (s.Charset.IsSet() && !IsCharsetName(s.Charset.view())) {
    return FramedFailure("The Charset value must be a character set name: letters, digits and -_.+, up to 40 "
                         "characters.");
  }
  if (!s.DryRun.IsSet()) {
    if (auto value = environment.Find("ryDryRun")) {
      if (Refusal refused = StoreSetting(s.DryRun, "DryRun", *value, false); !refused.empty()) return refused;
    }
  }
  if (s.InputFile.view() == "-" && s.MailToInputFile.view() == "-") {
    return FramedFailure("Standard input cannot be both the InputFile and the MailToInputFile.");
  }
  // The dry run's file is written over: never one that the run reads or writes otherwise.
  std::string dryRun(s.DryRun.view());
  if (s.DryRun.IsSet() && dryRun != "-") {
    std::vector<std::string_view> files = InputFilesOfTheEnvironment(environment);
    files.insert(files.end(), {s.InputFile.view(), s.MailToInputFile.view(), s.PasswordFile.view(), s.CaFile.view(),
                               s.DebugFile.view(), s.ResultFile.view()});
    for (std::string_view file : files) {
      if (!file.empty() && file != "-" && platform::IsSameFile(dryRun.c_str(), std::string(file).c_str())) {
        return {FramedFailure("The dry run file [" + dryRun + "] is a file the run reads or writes."),
                Outcome::kOutput};
      }
    }
  }
  return {};
}
