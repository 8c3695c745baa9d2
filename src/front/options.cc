#include "front/options.h"

#include <cstring>
#include <vector>

#include "platform/console.h"
#include "log/log.h"
#include "platform/file.h"
#include "platform/text_stream.h"

namespace {

enum class ValueKind { kSingleLine, kBodyFile, kRecipientFile, kDebug, kPath, kExitCodes, kResultFile, kList };

struct Option {
  const char* word;
  Field MailSettings::*field;  // nullptr for a list
  const char* name;
  const char* missing;  // printed when the value is absent
  ValueKind kind;
  ListField MailSettings::*list = nullptr;
};

constexpr Option kOptions[] = {
    {"-s", &MailSettings::Subject, "Subject", "\n-RyMail-FAIL, Missing Subject after -s\n\n", ValueKind::kSingleLine},
    {"-f", &MailSettings::MailFrom, "MailFrom", "\n-RyMail-FAIL, Missing MailFrom after -f\n\n",
     ValueKind::kSingleLine},
    {"-t", &MailSettings::MailTo, "MailTo", "\n-RyMail-FAIL, Missing MailTo after -t\n\n", ValueKind::kSingleLine},
    {"-F", &MailSettings::From, "From", "\n-RyMail-FAIL, Missing From after -F\n\n", ValueKind::kSingleLine},
    {"-T", &MailSettings::To, "To", "\n-RyMail-FAIL, Missing To after -T\n\n", ValueKind::kSingleLine},
    {"-g", &MailSettings::Gateway, "Gateway", "\n-RyMail-FAIL, Missing Gateway after -g\n\n", ValueKind::kSingleLine},
    {"-r", &MailSettings::ReplyTo, "ReplyTo", "\n-RyMail-FAIL, Missing ReplyTo after -r\n\n", ValueKind::kSingleLine},
    {"-i", &MailSettings::InputFile, "InputFile", "\n-RyMail-F-FAIL, Missing InputFile after -i\n\n",
     ValueKind::kBodyFile},
    {"-l", &MailSettings::MailToInputFile, "MailToInputFile", "\n-RyMail-F-FAIL, Missing InputFile after -l\n\n",
     ValueKind::kRecipientFile},
    {"-h", &MailSettings::Helo, "Helo", "\n-RyMail-FAIL, Missing Helo after -h\n\n", ValueKind::kSingleLine},
    {"-d", &MailSettings::DebugFile, "DebugFile", "\n-RyMail-FAIL, Missing DebugFile after -d\n\n",
     ValueKind::kDebug},
    // Submission relays. There is deliberately no option for the password:
    // every user of the machine can read a command line.
    {"--port", &MailSettings::Port, "Port", "\n-RyMail-FAIL, Missing Port after --port\n\n", ValueKind::kSingleLine},
    {"--tls", &MailSettings::Tls, "Tls", "\n-RyMail-FAIL, Missing Tls after --tls\n\n", ValueKind::kSingleLine},
    {"--ca-file", &MailSettings::CaFile, "CaFile", "\n-RyMail-FAIL, Missing CaFile after --ca-file\n\n",
     ValueKind::kPath},
    {"--tls-verify", &MailSettings::TlsVerify, "TlsVerify", "\n-RyMail-FAIL, Missing TlsVerify after --tls-verify\n\n",
     ValueKind::kSingleLine},
    {"--user", &MailSettings::User, "User", "\n-RyMail-FAIL, Missing User after --user\n\n", ValueKind::kSingleLine},
    {"--auth", &MailSettings::Auth, "Auth", "\n-RyMail-FAIL, Missing Auth after --auth\n\n", ValueKind::kSingleLine},
    {"--password-file", &MailSettings::PasswordFile, "PasswordFile",
     "\n-RyMail-FAIL, Missing PasswordFile after --password-file\n\n", ValueKind::kPath},
    {"--password-command", &MailSettings::PasswordCommand, "PasswordCommand",
     "\n-RyMail-FAIL, Missing PasswordCommand after --password-command\n\n", ValueKind::kSingleLine},
    // Reaching the relay.
    {"--ip", &MailSettings::Ip, "Ip", "\n-RyMail-FAIL, Missing Ip after --ip\n\n", ValueKind::kSingleLine},
    {"--connect-timeout", &MailSettings::ConnectTimeout, "ConnectTimeout",
     "\n-RyMail-FAIL, Missing ConnectTimeout after --connect-timeout\n\n", ValueKind::kSingleLine},
    // For scripts.
    {"--exit-codes", &MailSettings::ExitCodes, "ExitCodes", "\n-RyMail-FAIL, Missing ExitCodes after --exit-codes\n\n",
     ValueKind::kExitCodes},
    {"--result-file", &MailSettings::ResultFile, "ResultFile",
     "\n-RyMail-FAIL, Missing ResultFile after --result-file\n\n", ValueKind::kResultFile},
    // Many recipients.
    {"--cc", nullptr, "Cc", "\n-RyMail-FAIL, Missing Cc after --cc\n\n", ValueKind::kList, &MailSettings::Cc},
    {"--bcc", nullptr, "Bcc", "\n-RyMail-FAIL, Missing Bcc after --bcc\n\n", ValueKind::kList, &MailSettings::Bcc},
    {"--ehlo", &MailSettings::Ehlo, "Ehlo", "\n-RyMail-FAIL, Missing Ehlo after --ehlo\n\n",
     ValueKind::kSingleLine},
    {"--on-refused", &MailSettings::OnRefused, "OnRefused",
     "\n-RyMail-FAIL, Missing OnRefused after --on-refused\n\n", ValueKind::kSingleLine},
    // Text.
    {"--charset", &MailSettings::Charset, "Charset", "\n-RyMail-FAIL, Missing Charset after --charset\n\n",
     ValueKind::kSingleLine},
    {"--dry-run", &MailSettings::DryRun, "DryRun", "\n-RyMail-FAIL, Missing DryRun after --dry-run\n\n",
     ValueKind::kPath},
};

const Option* FindOption(const char* word) {
  for (const Option& option : kOptions) {
    if (std::strcmp(option.word, word) == 0) return &option;
  }
  return nullptr;
}

// Every file the run reads, wherever the command line names it (a "-d" must
// not empty one that a later pair names), and the password and CA files of
// the environment, which are read later.
std::vector<std::string_view> InputFilesNamed(int argc, const char* const* argv) {
  std::vector<std::string_view> files = InputFilesOfTheEnvironment(platform::ProcessEnvironment());
  for (int word = 1; word + 1 < argc; word += 2) {
    for (const char* reads : {"-i", "-l", "--password-file", "--ca-file"}) {
      if (std::strcmp(argv[word], reads) == 0) files.emplace_back(argv[word + 1]);
    }
  }
  return files;
}

Refusal ApplyOption(const Option& option, std::string_view value, const std::vector<std::string_view>& inputFiles) {
  if (option.kind == ValueKind::kList) return StoreSetting(Settings.*option.list, option.name, value, true);
  Field& field = Settings.*option.field;
  switch (option.kind) {
    case ValueKind::kSingleLine:
      return StoreSetting(field, option.name, value, true);
    case ValueKind::kBodyFile:
    case ValueKind::kRecipientFile: {
      if (value.size() > Field::kMaxLength) return StoreSetting(field, option.name, value, false);
      // "-" is standard input, read when the delivery needs it.
      if (value != "-" && !platform::CanOpenForReading(std::string(value).c_str())) {
        return {option.kind == ValueKind::kBodyFile ? FramedFailure("Failed to open input file")
                                                    : FramedFailure("Failed to open input file after -l"),
                Outcome::kInput};
      }
      return StoreSetting(field, option.name, value, false);
    }
    case ValueKind::kDebug:
      return EnableDebugLog(value, inputFiles);
    case ValueKind::kPath:
      return StoreSetting(field, option.name, value, false);
    case ValueKind::kExitCodes:
      return StoreExitCodes(value);
    case ValueKind::kResultFile:
      return StartResultFile(value, inputFiles);
    case ValueKind::kList:
      break;
  }
  return {};
}

// Whether the two paths name one existing file (a "-" names standard output).
bool SameFile(std::string_view a, std::string_view b) {
  return !a.empty() && !b.empty() && a != "-" && b != "-" &&
         platform::IsSameFile(std::string(a).c_str(), std::string(b).c_str());
}

}  // namespace

std::string FramedFailure(std::string_view text) {
  std::string framed = "\n-RyMail-FAIL, ";
  framed.append(text).append("\n\n");
  return framed;
}

bool OneOf(std::string_view value, std::initializer_list<std::string_view> values) {
  for (std::string_view one : values) {
    if (value == one) return true;
  }
  return false;
}

Refusal StoreExitCodes(std::string_view value) {
  if (!OneOf(value, {"simple", "sysexits"})) return FramedFailure("The ExitCodes value must be simple or sysexits.");
  Settings.ExitCodes.Assign(value);
  return {};
}

Refusal StartResultFile(std::string_view value, const std::vector<std::string_view>& inputFiles) {
  Settings.ResultFile.Assign("");
  if (Refusal refused = StoreSetting(Settings.ResultFile, "ResultFile", value, true); !refused.empty()) return refused;
  Settings.ResultFile.Assign("");
  if (value == "-") {
    Settings.ResultFile.Assign(value);
    return {};
  }
  std::string path(value);
  for (std::string_view input : inputFiles) {
    if (SameFile(path, input)) return {FramedFailure("The result file [" + path + "] is an input file."), Outcome::kOutput};
  }
  if (SameFile(path, Settings.DebugFile.view())) {
    return {FramedFailure("The result file [" + path + "] is the debug file."), Outcome::kOutput};
  }
  platform::FileHandle file = platform::CreateOrTruncate(path.c_str());
  if (file == platform::kNoFile) return {FramedFailure("Failed to create the result file [" + path + "]."), Outcome::kOutput};
  platform::CloseFile(file);
  Settings.ResultFile.Assign(value);
  return {};
}

Refusal CheckSetting(std::string_view name, std::string_view value, std::size_t maxLength, bool singleLine) {
  if (value.size() > maxLength) {
    return FramedFailure(std::string("The ").append(name).append(" value is longer than ")
                             .append(std::to_string(maxLength))
                             .append(" characters."));
  }
  if (singleLine && value.find_first_of("\r\n") != std::string_view::npos) {
    return FramedFailure(std::string("The ").append(name).append(" value holds a line break."));
  }
  return {};
}

std::vector<std::string_view> InputFilesOfTheEnvironment(const platform::Environment& environment) {
  std::vector<std::string_view> files;
  for (const char* variable : {"ryPasswordFile", "ryCaFile"}) {
    if (auto value = environment.Find(variable)) files.push_back(*value);
  }
  return files;
}

Refusal EnableDebugLog(std::string_view value, const std::vector<std::string_view>& inputFiles) {
  Settings.DebugEnabled = true;
  if (value == "S" || value == "s") {
    ConsolePrint("-RyMail-Info, You're in SCREEN Debug Mode\n");
    return {};
  }
  if (Refusal refused = StoreSetting(Settings.DebugFile, "DebugFile", value, false); !refused.empty()) return refused;
  // The result file is written last: it would overwrite the log.
  if (SameFile(Settings.DebugFile.view(), Settings.ResultFile.view())) {
    return {FramedFailure("The debug file [" + std::string(Settings.DebugFile.view()) + "] is the result file."),
            Outcome::kOutput};
  }
  return {StartDebugFile(inputFiles), Outcome::kOutput};
}

Refusal ParseOptions(int argc, const char* const* argv) {
  const std::vector<std::string_view> inputFiles = InputFilesNamed(argc, argv);
  for (int word = 1; word < argc; word += 2) {
    const Option* option = FindOption(argv[word]);
    if (option == nullptr) return std::string("\n-RyMail-FAIL, Don't understand [").append(argv[word]).append("]\n\n");
    if (word + 1 >= argc) return option->missing;
    if (Refusal refused = ApplyOption(*option, argv[word + 1], inputFiles); !refused.empty()) return refused;
  }
  return {};
}
