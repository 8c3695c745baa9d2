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
  }
  Settings.MessageId.AssignTruncated(base);
}

void AppendHostSuffix() {
  std::string id(Settings.MessageId.view());
  id += UniquePart();
  platform::HostEntry host;
  if (platform::ResolveHost("localhost", host)) {
    id.append("@").append(WithoutLineBreaks(host.officialName));
  } else {
    id.append("-NullHostName");
  }
  Settings.MessageId.AssignTruncated(id);
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
