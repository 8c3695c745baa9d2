// The machine's registration values: where the registry has them, under
// HKEY_LOCAL_MACHINE\Software\Microsoft\<system key>\CurrentVersion.
#pragma once

#include <string>

namespace platform {

/// Reads a registration value ("RegisteredOwner", "RegisteredOrganization")
/// from below the system key; a missing key or value gives an empty text.
/// Without a registry, the owner is the user's full name from the password
/// database (the login name when that is empty) and the organisation is
/// the ORGANIZATION environment variable.
std::string ReadRegistrationValue(const char* systemKeyName, const char* valueName);

}  // namespace platform
