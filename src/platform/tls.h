// TLS client sessions over a connected stream socket: OpenSSL on POSIX,
// Schannel on Windows, and nothing in a build without TLS. Every wait is
// bounded by the caller's timeout.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace platform {

/// One TLS session; each implementation defines it.
struct TlsSession;

struct TlsOptions {
  const char* serverName = "";  // the relay's name or address: sent as SNI and checked
  bool verify = true;           // check the chain and the name
  std::string_view caPem;       // PEM trust anchors (the CaFile's bytes); empty for the system's trust store
};

enum class TlsFailure {
  kNone,
  kHandshake,  // the handshake failed or the peer went away
  kUntrusted,  // the chain does not lead to a trust anchor (or has expired, ...)
  kWrongName,  // the certificate does not name the relay
  kTimedOut,
  kUnavailable,  // the system's TLS library cannot be loaded
};

struct TlsStart {
  TlsSession* session = nullptr;  // nullptr on failure
  TlsFailure failure = TlsFailure::kNone;
  std::string detail;  // on success the protocol and cipher, on failure the reason
};

/// Whether this build can make TLS sessions at all.
bool TlsBuiltIn();

/// The TLS library as it names itself ("OpenSSL 3.0.19 ..."), "Schannel",
/// or "none" in a build without TLS. May load the library.
std::string TlsLibraryVersion();

/// Makes a client session over the connected socket: the handshake, then
/// (when options.verify) the certificate checks. The system's TLS library is
/// loaded by the first call, not before (kUnavailable when it cannot be).
/// Fails with the reason; the socket stays open either way.
TlsStart StartTls(SocketHandle socket, const TlsOptions& options, int timeoutMs);

/// Receives decrypted bytes, waiting at most timeoutMs; kClosed when the
/// peer ended the session or the connection.
IoResult TlsReceive(TlsSession* session, char* buffer, std::size_t capacity, int timeoutMs);
/// Sends what the session takes (records of up to 16 KiB), waiting at most
/// timeoutMs for room.
IoResult TlsSend(TlsSession* session, const char* data, std::size_t length, int timeoutMs);

/// Says goodbye (close_notify), waiting at most timeoutMs, and frees the
/// session; the socket stays open. Failures are ignored.
void EndTls(TlsSession* session, int timeoutMs);

}  // namespace platform
