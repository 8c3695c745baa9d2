#include "platform/registration.h"

#include <cstring>
#include <pwd.h>
#include <unistd.h>
#include <vector>

#include "platform/environment.h"

namespace platform {
namespace {

// The user's full name: the password entry's comment up to its first comma,
// or the login name when that is empty.
std::string OwnerName() {
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> scratch(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, scratch.data(), scratch.size(), &found) != 0 || found == nullptr) return {};
  std::string name = entry.pw_gecos ? entry.pw_gecos : "";
  name = name.substr(0, name.find(','));
  if (name.empty() && entry.pw_name) name = entry.pw_name;
  return name;
}

}  // namespace

std::string ReadRegistrationValue(const char* /*systemKeyName*/, const char* valueName) {
  if (std::strcmp(valueName, "RegisteredOwner") == 0) return OwnerName();
  if (std::strcmp(valueName, "RegisteredOrganization") == 0) {
    return std::string(ProcessEnvironment().Find("ORGANIZATION").value_or(""));
  }
  return {};
}

}  // namespace platform
