#include "front/submission_settings.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "front/mail_settings.h"
#include "front/options.h"
#include "platform/command.h"
#include "platform/file.h"
#include "platform/fixed_text.h"
#include "platform/text_stream.h"
#include "platform/tls.h"
#include "smtp/submission.h"

namespace {

struct Setting {
  Field MailSettings::*field;
  const char* name;
  const char* variable;
  bool singleLine;
};

const Setting kSettings[] = {
    {&MailSettings::Port, "Port", "ryPort", true},
    {&MailSettings::Tls, "Tls", "ryTls", true},
    {&MailSettings::CaFile, "CaFile", "ryCaFile", false},
    {&MailSettings::TlsVerify, "TlsVerify", "ryTlsVerify", true},
    {&MailSettings::User, "User", "ryUser", true},
    {&MailSettings::Auth, "Auth", "ryAuth", true},
    {&MailSettings::PasswordFile, "PasswordFile", "ryPasswordFile", false},
    {&MailSettings::PasswordCommand, "PasswordCommand", "ryPasswordCommand", true},
};

// 1-65535 in decimal, or a name the services table may know.
bool IsPortOrService(std::string_view value) {
  if (value.empty()) return false;
  if (value.find_first_not_of("0123456789") == std::string_view::npos) {
    if (value.size() > 5) return false;
    unsigned long port = 0;
    for (char digit : value) port = port * 10 + static_cast<unsigned long>(digit - '0');
    return port >= 1 && port <= 65535;
  }
  return value.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_") ==
         std::string_view::npos;
}

std::string PasswordTooLong() {
  return FramedFailure("The password is longer than " + std::to_string(Settings.Password.kMaxLength) + " characters.");
}

Refusal StorePassword(std::string_view password) {
  if (password.size() > Settings.Password.kMaxLength) return PasswordTooLong();
  if (password.find('\0') != std::string_view::npos) return FramedFailure("The password holds a zero byte.");
  // An empty one would only be a failed login, which relays count towards a lockout.
  if (password.empty()) return FramedFailure("The password is empty.");
  Settings.Password.Assign(password);
  return {};
}

// Room for the longest password, its CR LF, and one byte to tell it is longer.
constexpr std::size_t kSecretRoom = kPasswordCapacity + 2;

// Where a password is read into; wiped when it goes.
class SecretRoom {
 public:
  SecretRoom() : bytes_(new char[kSecretRoom]) {}
  ~SecretRoom() { WipeBytes(bytes_.get(), kSecretRoom); }
  SecretRoom(const SecretRoom&) = delete;
  SecretRoom& operator=(const SecretRoom&) = delete;
  char* data() { return bytes_.get(); }

 private:
  std::unique_ptr<char[]> bytes_;
};

// The first line of what was read, without its LF or CR LF; nothing when the
// bytes filled the room without a line end, too long for any password.
std::optional<std::string_view> FirstLine(std::string_view read) {
  std::size_t end = read.find('\n');
  if (end == std::string_view::npos) {
    if (read.size() == kSecretRoom) return std::nullopt;
    return read;
  }
  std::string_view line = read.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The password is the file's first line.
Refusal ReadPasswordFile() {
  platform::FileHandle file = platform::OpenForReading(Settings.PasswordFile.c_str());
  if (file == platform::kNoFile) return {FramedFailure("Failed to open the PasswordFile"), Outcome::kInput};
  SecretRoom room;
  std::size_t used = 0;
  bool failed = false;
  while (used < kSecretRoom && std::memchr(room.data(), '\n', used) == nullptr) {
    std::ptrdiff_t got = platform::ReadFile(file, room.data() + used, kSecretRoom - used);
    if (got <= 0) {
      failed = got < 0;
      break;
    }
    used += static_cast<std::size_t>(got);
  }
  platform::CloseFile(file);
  if (failed) return {FramedFailure("Failed to read the PasswordFile"), Outcome::kInput};
  std::optional<std::string_view> line = FirstLine(std::string_view(room.data(), used));
  return line ? StorePassword(*line) : Refusal(PasswordTooLong());
}

}  // namespace

Refusal ReadPasswordCommand(std::chrono::milliseconds bound) {
  SecretRoom room;
  platform::CommandRun run = platform::RunForFirstLine(Settings.PasswordCommand.c_str(), room.data(), kSecretRoom,
                                                       static_cast<int>(bound.count()));
  // The output is never shown: it is, or holds, the secret.
  switch (run.end) {
    case platform::CommandEnd::kNotStarted:
      return {FramedFailure("The PasswordCommand could not be started."), Outcome::kInput};
    case platform::CommandEnd::kTimedOut:
      return {FramedFailure("The PasswordCommand took too long and was stopped."), Outcome::kInput};
    case platform::CommandEnd::kSignalled:
      return {FramedFailure("The PasswordCommand was ended by signal " + std::to_string(run.code) + "."),
              Outcome::kInput};
    case platform::CommandEnd::kExited:
      if (run.code == 0) break;
      return {FramedFailure("The PasswordCommand failed with exit status " + std::to_string(run.code) + "."),
              Outcome::kInput};
  }
  std::optional<std::string_view> line = FirstLine(std::string_view(room.data(), run.length));
  if (!line || line->size() > Settings.Password.kMaxLength) {
    return FramedFailure("The PasswordCommand printed a first line longer than " +
                         std::to_string(Settings.Password.kMaxLength) + " characters.");
  }
  if (line->empty()) return FramedFailure("The PasswordCommand printed no password.");
  return StorePassword(*line);
}

constexpr std::size_t kMaxCaFileBytes = 4 << 20;

Refusal CompleteSubmissionSettings(const platform::Environment& environment) {
  MailSettings& s = Settings;
  for (const Setting& setting : kSettings) {
    Field& field = s.*setting.field;
    if (field.IsSet()) continue;
    if (auto value = environment.Find(setting.variable)) {
      if (Refusal refused = StoreSetting(field, setting.name, *value, setting.singleLine); !refused.empty()) {
        return refused;
      }
    }
  }
  if (s.Port.IsSet() && !IsPortOrService(s.Port.view())) {
    return FramedFailure("The Port value must be a port from 1 to 65535 or a service name.");
  }
  if (s.Tls.IsSet() && !OneOf(s.Tls.view(), {"none", "starttls", "implicit"})) {
    return FramedFailure("The Tls value must be none, starttls or implicit.");
  }
  if (s.TlsVerify.IsSet() && !OneOf(s.TlsVerify.view(), {"on", "off"})) {
    return FramedFailure("The TlsVerify value must be on or off.");
  }
  if (s.Auth.IsSet() && !OneOf(s.Auth.view(), {"plain", "login", "xoauth2", "oauthbearer"})) {
    return FramedFailure("The Auth value must be plain, login, xoauth2 or oauthbearer.");
  }
  // A token is for one account: these are never tried without a user.
  if (OneOf(s.Auth.view(), {"xoauth2", "oauthbearer"}) && !s.User.IsSet()) {
    return FramedFailure("The Auth value " + std::string(s.Auth.view()) + " needs a User: add --user.");
  }
  if (SubmissionAsked() && !platform::TlsBuiltIn()) {
    return FramedFailure("The Tls and User settings need TLS, and this RyMail was built without TLS.");
  }
  if (s.User.IsSet()) {
    if (!OneOf(s.Tls.view(), {"starttls", "implicit"})) {
      return FramedFailure("The User value asks for AUTH, which needs TLS: add --tls starttls or --tls implicit.");
    }
    if (s.PasswordCommand.IsSet()) {
      if (s.PasswordFile.IsSet() || environment.Find("ryPassword")) {
        return FramedFailure("Name one source of the password: PasswordCommand, PasswordFile or ryPassword.");
      }
    } else if (s.PasswordFile.IsSet()) {
      if (Refusal failure = ReadPasswordFile(); !failure.empty()) return failure;
    } else if (auto password = environment.Find("ryPassword")) {
      if (Refusal failure = StorePassword(*password); !failure.empty()) return failure;
    } else {
      return FramedFailure("The User value needs a password: ryPassword or --password-file.");
    }
  }
  // Read here, opened without waiting: the TLS library gets the bytes and never opens the file itself.
  if (SubmissionAsked() && s.CaFile.IsSet()) {
    switch (platform::ReadSmallFile(s.CaFile.c_str(), kMaxCaFileBytes, s.CaFileContents)) {
      case platform::SmallFile::kRead:
        break;
      case platform::SmallFile::kMissing:
        return {FramedFailure("The CaFile does not exist."), Outcome::kInput};
      case platform::SmallFile::kUnreadable:
        return {FramedFailure("The CaFile cannot be read."), Outcome::kInput};
      case platform::SmallFile::kNotRegular:
        return {FramedFailure("The CaFile is not a regular file."), Outcome::kInput};
      case platform::SmallFile::kTooLarge:
        return {FramedFailure("The CaFile is larger than 4 MB."), Outcome::kInput};
    }
  }
  // Last: a run refused for anything else never starts the command.
  if (s.User.IsSet() && s.PasswordCommand.IsSet()) return ReadPasswordCommand(kPasswordCommandBound);
  return {};
}
