// A network of the test process's own: a new network namespace with only a
// loopback interface, so relays can listen on port 25 without touching the
// host or other tests.
#pragma once

#include <string>

/// Moves the calling process, once, into a private network namespace (through
/// a user namespace when not root) and brings "lo" up. Must run before any
/// thread is started. Returns false with the reason when it cannot.
bool EnterPrivateNetwork(std::string& why);
