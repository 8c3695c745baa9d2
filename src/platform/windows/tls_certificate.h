// The relay's certificate, checked by RyMail itself after the Schannel
// handshake (Schannel's own check does nothing under wine): the chain to a
// trust anchor, then the name or address. Only windows/tls*.cc include this.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#define SECURITY_WIN32
#include <sspi.h>
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
#include <wincrypt.h>

#include <string>

#include "platform/tls.h"

namespace platform {

/// A check's result: kNone, or the failure and its reason.
struct Outcome {
  TlsFailure failure = TlsFailure::kNone;
  std::string detail;
};

inline Outcome Failure(TlsFailure failure, std::string detail) { return {failure, std::move(detail)}; }

/// A Windows error code as "0x" and eight hex digits.
std::string Hex(long code);

/// Whether the name is an IPv4 or IPv6 literal.
bool IsAddress(const char* name);

/// A memory store with every certificate of the PEM file; nullptr with the
/// reason when the file cannot be read or holds none.
HCERTSTORE LoadAnchors(const char* path, std::string& reason);

/// Checks the certificate of the session's relay against the anchors (the
/// CA file's, or the system's when anchors is nullptr): the chain first,
/// then serverName (an address against the certificate's IP entries). A
/// certificate with both faults is "not trusted" here, while OpenSSL names
/// the wrong name first; both refuse it.
Outcome CheckCertificate(CtxtHandle* context, HCERTSTORE anchors, const char* serverName);

}  // namespace platform
