#include "identity/identity.h"

#include <random>
#include <string>

#include "platform/fixed_text.h"
#include "front/mail_settings.h"
#include "log/time_text.h"
#include "platform/process.h"
#include "platform/registration.h"
#include "platform/socket.h"

namespace {

// "." + process id + "." + eight random hex digits: runs in the same second differ.
std::string UniquePart() {
  std::random_device source;
  char part[32];
  static_assert(sizeof part > sizeof ".." + 20 + 8, "a 64-bit process id and 8 hex digits always fit");
  (void)FormatText(part, sizeof part, ".%lu.%08x", platform::CurrentProcessId(),
             static_cast<unsigned>(source()));
  return part;
}

}  // namespace

std::string WithoutLineBreaks(std::string_view text) {
  std::string kept(text);
  for (char& c : kept) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return kept;
}

void BuildMessageIdBase() {
  char time[kTimeTextCapacity];
  StartTimeText(time);
  std::string base(time);
  if (!base.empty() && base.back() == '\n') base.pop_back();
  for (char& c : base) {
    if (c == ' ') c = '-';
    if (c == ':') c = '.';  // a colon is not allowed in the left part of a Message-ID
  }
  Settings.MessageId.AssignTruncated(base);
}

std::string DotAtomText(std::string_view text) {
  static constexpr std::string_view kAtomSymbols = "!#$%&'*+-/=?^_`{|}~";
  std::string atom(text);
  for (std::size_t i = 0; i < atom.size(); ++i) {
    char c = atom[i];
    bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    bool dotBetween = c == '.' && i > 0 && i + 1 < atom.size() && atom[i - 1] != '.';
    if (!letterOrDigit && !dotBetween && kAtomSymbols.find(c) == std::string_view::npos) atom[i] = '-';
  }
  return atom;
}

void AppendHostSuffix() {
  std::string left(Settings.MessageId.view());
  left += UniquePart();
  platform::HostEntry host;
  std::string right;
  std::string why;
  if (platform::ResolveHost("localhost", host, why) == platform::ResolveStatus::kFound &&
      host.officialName[0] != '\0') {
    right = WithoutLineBreaks(host.officialName);
  } else {
    left += "-NullHostName";
    right = "localhost";
  }
  // Cut to the field, the host name first, and keep an "@" and a valid right part.
  std::size_t room = Field::kMaxLength;
  if (left.size() > room - 2) left.resize(room - 2);
  if (right.size() > room - 1 - left.size()) right.resize(room - 1 - left.size());
  Settings.MessageId.Assign(DotAtomText(left) + "@" + DotAtomText(right));
}

std::string_view SystemKeyNameFor(const std::string_view* osValue) {
  if (osValue == nullptr) return "Windows";
  if (*osValue == "Windows_NT") return "Windows NT";
  return *osValue;
}

void ReadOriginator(const platform::Environment& environment) {
  auto os = environment.Find("OS");
  Settings.SystemKeyName.AssignTruncated(WithoutLineBreaks(SystemKeyNameFor(os ? &*os : nullptr)));
  std::string owner =
      WithoutLineBreaks(platform::ReadRegistrationValue(Settings.SystemKeyName.c_str(), "RegisteredOwner"));
  std::string organisation =
      WithoutLineBreaks(platform::ReadRegistrationValue(Settings.SystemKeyName.c_str(), "RegisteredOrganization"));
  Settings.Originator.AssignTruncated(owner + " of " + organisation);
}
