#include "platform/windows/tls_certificate.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/file.h"

namespace platform {

std::string Hex(long code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(code));
  return text;
}

namespace {


// The binary form of an IPv4 or IPv6 literal in address; 0 when name is no address.
std::size_t ParseAddress(const char* name, unsigned char (&address)[16]) {
  if (::inet_pton(AF_INET, name, address) == 1) return 4;
  if (::inet_pton(AF_INET6, name, address) == 1) return 16;
  return 0;
}

}  // namespace

bool IsAddress(const char* name) {
  unsigned char address[16];
  return ParseAddress(name, address) != 0;
}

namespace {

// Whether the certificate lists the address literal among its IP addresses.
// Checked here: wine's SSL policy never matches an address.
bool NamesAddress(PCCERT_CONTEXT certificate, const char* name) {
  unsigned char address[16];
  std::size_t length = ParseAddress(name, address);
  const CERT_INFO* info = certificate->pCertInfo;
  PCERT_EXTENSION extension =
      Schannel().CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (length == 0 || extension == nullptr ||
      !Schannel().CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                                      extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == length &&
            std::memcmp(entry.IPAddress.pbData, address, length) == 0;
  }
  ::LocalFree(names);
  return found;
}

std::wstring Wide(const char* text) {
  int length = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

}  // namespace

HCERTSTORE LoadAnchors(std::string_view contents, std::string& reason) {
  HCERTSTORE store = Schannel().CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
  if (store == nullptr) {
    reason = "cannot make a certificate store: error " + std::to_string(::GetLastError());
    return nullptr;
  }
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  std::string_view rest(contents);
  int added = 0;
  for (std::size_t begin = rest.find(kBegin); begin != std::string_view::npos; begin = rest.find(kBegin)) {
    std::size_t end = rest.find(kEnd, begin);
    if (end == std::string_view::npos) break;
    std::string_view block = rest.substr(begin, end + kEnd.size() - begin);
    rest.remove_prefix(end + kEnd.size());
    DWORD size = 0;
    DWORD length = static_cast<DWORD>(block.size());
    if (!Schannel().CryptStringToBinaryA(block.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                                         nullptr) ||
        size == 0) {
      continue;
    }
    std::unique_ptr<BYTE[]> der(new BYTE[size]);
    if (Schannel().CryptStringToBinaryA(block.data(), length, CRYPT_STRING_BASE64HEADER, der.get(), &size, nullptr,
                                        nullptr) &&
        Schannel().CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.get(), size,
                                                    CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      ++added;
    }
  }
  if (added == 0) {
    Schannel().CertCloseStore(store, 0);
    reason = "no certificate in the CaFile";
    return nullptr;
  }
  return store;
}

namespace {

std::string PolicyReason(DWORD error) {
  switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
      return "unknown certificate authority";
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return "certificate has expired";
    case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING):
      return "certificate validity periods do not nest";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
      return "certificate not meant for a server";
    case static_cast<DWORD>(CERT_E_REVOKED):
      return "certificate revoked";
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
      return "certificate signature failure";
    default:
      return "certificate check failed: " + Hex(static_cast<long>(error));
  }
}

// Why the chain itself fails, before any name is looked at; empty when it
// does not. Wine's SSL policy lets a chain without its root pass: these bits do not.
std::string ChainReason(PCCERT_CHAIN_CONTEXT chain) {
  DWORD errors = chain->TrustStatus.dwErrorStatus;
  if (errors == CERT_TRUST_NO_ERROR) return std::string();
  if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) return "unknown certificate authority";
  if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "certificate signature failure";
  if (errors & CERT_TRUST_IS_NOT_TIME_VALID) {
    for (DWORD i = 0; i < chain->cChain; ++i) {
      const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[i];
      for (DWORD j = 0; j < simple->cElement; ++j) {
        const CERT_CHAIN_ELEMENT* element = simple->rgpElement[j];
        if ((element->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_TIME_VALID) &&
            Schannel().CertVerifyTimeValidity(nullptr, element->pCertContext->pCertInfo) < 0) {
          return "certificate is not yet valid";
        }
      }
    }
    return "certificate has expired";
  }
  if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "certificate not meant for a server";
  if (errors & CERT_TRUST_IS_REVOKED) return "certificate revoked";
  return "certificate chain error " + Hex(static_cast<long>(errors));
}

// Judges a built chain: the chain itself first (as the POSIX build reports it), then
// the name or address, then the rest of the SSL policy.
Outcome JudgeChain(PCCERT_CHAIN_CONTEXT chain, PCCERT_CONTEXT certificate, const char* serverName) {
  if (std::string reason = ChainReason(chain); !reason.empty()) return Failure(TlsFailure::kUntrusted, reason);
  // A name only in the subject's CN does not count (RFC 9525).
  const CERT_INFO* info = certificate->pCertInfo;
  if (Schannel().CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension) == nullptr) {
    return Failure(TlsFailure::kWrongName, "it has no subjectAltName");
  }
  bool address = IsAddress(serverName);
  if (address && !NamesAddress(certificate, serverName)) return Failure(TlsFailure::kWrongName, "IP address mismatch");
  // With an address (matched above) the policy checks no name.
  std::wstring name = Wide(serverName);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA extra;
  std::memset(&extra, 0, sizeof extra);
  extra.cbSize = sizeof extra;
  extra.dwAuthType = AUTHTYPE_SERVER;
  extra.pwszServerName = address ? nullptr : name.data();
  CERT_CHAIN_POLICY_PARA policy;
  std::memset(&policy, 0, sizeof policy);
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &extra;
  CERT_CHAIN_POLICY_STATUS status;
  std::memset(&status, 0, sizeof status);
  status.cbSize = sizeof status;
  if (!Schannel().CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
    return Failure(TlsFailure::kUntrusted, "cannot check the certificate: error " + Hex(::GetLastError()));
  }
  if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
    return Failure(TlsFailure::kWrongName, "hostname mismatch");
  }
  if (status.dwError != 0) return Failure(TlsFailure::kUntrusted, PolicyReason(status.dwError));
  return {};
}

}  // namespace

Outcome CheckCertificate(CtxtHandle* context, HCERTSTORE anchors, const char* serverName) {
  PCCERT_CONTEXT certificate = nullptr;
  if (Schannel().QueryContextAttributesA(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
      certificate == nullptr) {
    return Failure(TlsFailure::kUntrusted, "the relay sent no certificate");
  }
  HCERTCHAINENGINE engine = nullptr;
  if (anchors != nullptr) {
    CERT_CHAIN_ENGINE_CONFIG config;
    std::memset(&config, 0, sizeof config);
    // Windows 7's size: wine refuses the longer one with E_INVALIDARG.
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
    config.hExclusiveRoot = anchors;
    if (!Schannel().CertCreateCertificateChainEngine(&config, &engine)) {
      Schannel().CertFreeCertificateContext(certificate);
      return Failure(TlsFailure::kUntrusted, "cannot use the trust anchors: error " + Hex(::GetLastError()));
    }
  }
  LPSTR serverUsage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA parameters;
  std::memset(&parameters, 0, sizeof parameters);
  parameters.cbSize = sizeof parameters;
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = serverUsage;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  Outcome outcome;
  // Only what the relay sent and the local stores: no fetching of certificates, whose wait nothing would bound.
  if (Schannel().CertGetCertificateChain(engine, certificate, nullptr, certificate->hCertStore, &parameters,
                                         CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr,
                                         &chain)) {
    outcome = JudgeChain(chain, certificate, serverName);
    Schannel().CertFreeCertificateChain(chain);
  } else {
    outcome = Failure(TlsFailure::kUntrusted, "cannot build the certificate chain: error " + Hex(::GetLastError()));
  }
  if (engine != nullptr) Schannel().CertFreeCertificateChainEngine(engine);
  Schannel().CertFreeCertificateContext(certificate);
  return outcome;
}


}  // namespace platform
