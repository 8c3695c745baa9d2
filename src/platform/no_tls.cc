// A build without TLS: the settings that need it are refused before any
// network activity, so these are never reached with a session.
#include "platform/tls.h"

namespace platform {

struct TlsSession {};

bool TlsBuiltIn() { return false; }

std::string TlsLibraryVersion() { return "none"; }

TlsStart StartTls(SocketHandle, const TlsOptions&, int) {
  TlsStart start;
  start.failure = TlsFailure::kHandshake;
  start.detail = "this RyMail was built without TLS";
  return start;
}

IoResult TlsReceive(TlsSession*, char*, std::size_t, int) { return {IoStatus::kFailed, 0}; }
IoResult TlsSend(TlsSession*, const char*, std::size_t, int) { return {IoStatus::kFailed, 0}; }
void EndTls(TlsSession*, int) {}

}  // namespace platform
