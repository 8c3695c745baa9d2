#include "platform/registration.h"

#include <windows.h>

#include <vector>

namespace platform {

std::string ReadRegistrationValue(const char* systemKeyName, const char* valueName) {
  const char* const path[] = {"Software", "Microsoft", systemKeyName, "CurrentVersion"};
  HKEY key = HKEY_LOCAL_MACHINE;
  for (const char* name : path) {
    HKEY next;
    LONG opened = ::RegOpenKeyExA(key, name, 0, KEY_READ, &next);
    if (key != HKEY_LOCAL_MACHINE) ::RegCloseKey(key);
    if (opened != ERROR_SUCCESS) return {};
    key = next;
  }
  // The size first, then the value into a buffer of that size.
  DWORD type = 0;
  DWORD size = 0;
  std::string text;
  if (::RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0 &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::vector<char> buffer(size + 1, '\0');
    if (::RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
        ERROR_SUCCESS) {
      text.assign(buffer.data());  // up to the first zero byte, whether or not one was stored
    }
  }
  ::RegCloseKey(key);
  return text;
}

}  // namespace platform
