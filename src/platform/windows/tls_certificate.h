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
#include <string_view>

#include "platform/tls.h"

namespace platform {

// Everything RyMail uses of Schannel (secur32.dll) and the certificate
// functions (crypt32.dll). The program does not import them: the first TLS
// session loads both and looks these up, so a run without TLS never loads
// either. Calling a function by its own name instead of through Schannel()
// fails to link.
#define RYMAIL_SECUR32_FUNCTIONS(F)                                                                        \
  F(AcquireCredentialsHandleA) F(InitializeSecurityContextA) F(QueryContextAttributesA)                    \
  F(DeleteSecurityContext) F(FreeCredentialsHandle) F(FreeContextBuffer) F(EncryptMessage) F(DecryptMessage) \
  F(ApplyControlToken)
#define RYMAIL_CRYPT32_FUNCTIONS(F)                                                                          \
  F(CertOpenStore) F(CertCloseStore) F(CertAddEncodedCertificateToStore) F(CertFreeCertificateContext)      \
  F(CertCreateCertificateChainEngine) F(CertFreeCertificateChainEngine) F(CertGetCertificateChain)          \
  F(CertFreeCertificateChain) F(CertVerifyCertificateChainPolicy) F(CertVerifyTimeValidity)                \
  F(CertFindExtension) F(CryptDecodeObjectEx) F(CryptStringToBinaryA)

struct SchannelLibrary {
#define RYMAIL_DECLARE(name) decltype(&::name) name = nullptr;
  RYMAIL_SECUR32_FUNCTIONS(RYMAIL_DECLARE)
  RYMAIL_CRYPT32_FUNCTIONS(RYMAIL_DECLARE)
#undef RYMAIL_DECLARE
  std::string failure;  // empty once every function was found
};

/// Loads both libraries and fills the table, once per process; later calls
/// return the same table, or the same failure.
const SchannelLibrary& Schannel();

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

/// A memory store with every certificate of the PEM text; nullptr with the
/// reason when it holds none.
HCERTSTORE LoadAnchors(std::string_view pem, std::string& reason);

/// Checks the certificate of the session's relay against the anchors (the
/// CA file's, or the system's when anchors is nullptr): the chain first,
/// then serverName (an address against the certificate's IP entries). A
/// certificate with both faults is "not trusted" here, while OpenSSL names
/// the wrong name first; both refuse it.
Outcome CheckCertificate(CtxtHandle* context, HCERTSTORE anchors, const char* serverName);

}  // namespace platform
