#include "platform/tls.h"

#include "platform/file.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#define SECURITY_WIN32
#include <sspi.h>
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
#include <wincrypt.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace platform {
namespace {

// The largest TLS record (header, 16 KiB of data, the most expansion TLS 1.2
// allows); the receive buffer holds two, so a record and the start of the next fit.
constexpr std::size_t kMaxRecord = 5 + 16384 + 2048;
constexpr std::size_t kIncomingCapacity = 2 * kMaxRecord;
constexpr unsigned long kMaxPlainRecord = 16384;
constexpr unsigned char kAlertRecord = 21;
constexpr std::size_t kCaFileLimit = 8 * 1024 * 1024;  // far above any system bundle

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

}  // namespace

struct TlsSession {
  SocketHandle socket = kNoSocket;
  CredHandle credentials{};
  CtxtHandle context{};
  bool haveCredentials = false;
  bool haveContext = false;
  std::string target;  // the SNI name; empty for an address
  std::unique_ptr<char[]> incoming{new char[kIncomingCapacity]};  // ciphertext, decrypted in place
  std::size_t incomingUsed = 0;
  std::size_t plainOffset = 0;  // decrypted bytes not yet handed out, inside incoming
  std::size_t plainLength = 0;
  std::size_t extraOffset = 0;  // ciphertext after them, inside incoming
  std::size_t extraLength = 0;
  SecPkgContext_StreamSizes sizes{};
  std::unique_ptr<char[]> outgoing;  // one record: header, data, trailer
  bool closed = false;               // the relay's close_notify arrived
  bool renegotiating = false;        // asked for by the relay, once the plaintext before it is out
  bool broken = false;               // a record failed or went out in part: nothing more may follow
};

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(int timeoutMs) { return Clock::now() + std::chrono::milliseconds(timeoutMs); }

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

std::string Hex(long code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(code));
  return text;
}

std::string SchannelReason(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_ALGORITHM_MISMATCH:
      return "no protocol version or cipher in common with the relay";
    case SEC_E_ILLEGAL_MESSAGE:
      return "the relay sent an invalid or unexpected TLS message";
    case SEC_E_MESSAGE_ALTERED:
    case SEC_E_DECRYPT_FAILURE:
      return "a TLS record failed its integrity check";
    case SEC_E_UNSUPPORTED_FUNCTION:
      return "the relay asked for something Schannel does not support";
    case SEC_E_INTERNAL_ERROR:
      return "Schannel internal error";
    default:
      return "Schannel error " + Hex(status);
  }
}

// Sends all bytes by the deadline: a handshake token or a whole record.
IoStatus SendAll(SocketHandle socket, const char* data, std::size_t length, Clock::time_point deadline) {
  while (length > 0) {
    IoResult sent = SendSome(socket, data, length, RemainingMs(deadline));
    if (sent.status != IoStatus::kDone) return sent.status;
    data += sent.count;
    length -= sent.count;
    if (length > 0 && sent.count == 0 && RemainingMs(deadline) == 0) return IoStatus::kTimedOut;
  }
  return IoStatus::kDone;
}

// Sends and frees the token Schannel allocated; kDone when there was none.
IoStatus SendToken(SocketHandle socket, SecBuffer& token, Clock::time_point deadline) {
  IoStatus status = IoStatus::kDone;
  if (token.pvBuffer != nullptr) {
    const char* bytes = static_cast<const char*>(token.pvBuffer);
    if (token.cbBuffer > 0) status = SendAll(socket, bytes, token.cbBuffer, deadline);
    ::FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
  }
  return status;
}

// Reads more ciphertext after what incoming holds, waiting by the deadline.
IoStatus ReceiveMore(TlsSession* session, Clock::time_point deadline) {
  if (session->incomingUsed == kIncomingCapacity) return IoStatus::kFailed;
  for (;;) {
    int left = RemainingMs(deadline);
    if (left == 0) return IoStatus::kTimedOut;
    IoResult got = ReceiveSome(session->socket, session->incoming.get() + session->incomingUsed,
                               kIncomingCapacity - session->incomingUsed, left);
    if (got.status != IoStatus::kDone) return got.status;
    if (got.count > 0) {
      session->incomingUsed += got.count;
      return IoStatus::kDone;
    }
  }
}

// Keeps the input Schannel left unread (SECBUFFER_EXTRA, always the end of
// the input) at the start of incoming.
void KeepExtra(TlsSession* session, const SecBuffer& second) {
  std::size_t extra = second.BufferType == SECBUFFER_EXTRA ? second.cbBuffer : 0;
  if (extra > session->incomingUsed) extra = 0;
  std::memmove(session->incoming.get(), session->incoming.get() + session->incomingUsed - extra, extra);
  session->incomingUsed = extra;
}

struct Outcome {
  TlsFailure failure = TlsFailure::kNone;
  std::string detail;
};

Outcome Failure(TlsFailure failure, std::string detail) { return {failure, std::move(detail)}; }

Outcome ConnectionFailure(IoStatus status) {
  if (status == IoStatus::kTimedOut) return Failure(TlsFailure::kTimedOut, "the handshake timed out");
  if (status == IoStatus::kClosed) return Failure(TlsFailure::kHandshake, "the relay closed the connection");
  return Failure(TlsFailure::kHandshake, "connection error " + std::to_string(LastSocketError()));
}

const char* TargetName(const TlsSession* session) {
  return session->target.empty() ? nullptr : session->target.c_str();
}

// Runs the handshake from an existing context until Schannel is done: the
// first one after the ClientHello, or a renegotiation with what incoming holds.
Outcome Handshake(TlsSession* session, bool readFirst, Clock::time_point deadline) {
  bool read = readFirst;
  for (;;) {
    if (read) {
      IoStatus got = ReceiveMore(session, deadline);
      if (got == IoStatus::kFailed && session->incomingUsed == kIncomingCapacity) {
        return Failure(TlsFailure::kHandshake, "a handshake message too long");
      }
      if (got != IoStatus::kDone) return ConnectionFailure(got);
    }
    SecBuffer input[2] = {{static_cast<unsigned long>(session->incomingUsed), SECBUFFER_TOKEN, session->incoming.get()},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inputDescription{SECBUFFER_VERSION, 2, input};
    SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, output};
    unsigned long attributes = 0;
    SECURITY_STATUS status = ::InitializeSecurityContextA(
        &session->credentials, &session->context, const_cast<char*>(TargetName(session)), kContextFlags, 0, 0,
        &inputDescription, 0, &session->context, &outputDescription, &attributes, nullptr);
    // On a failure the token, when there is one, is the alert for the relay.
    IoStatus sent = SendToken(session->socket, output[0], deadline);
    switch (status) {
      case SEC_E_OK:
        if (sent != IoStatus::kDone) return ConnectionFailure(sent);
        KeepExtra(session, input[1]);
        return {};
      case SEC_I_CONTINUE_NEEDED:
        if (sent != IoStatus::kDone) return ConnectionFailure(sent);
        KeepExtra(session, input[1]);
        read = session->incomingUsed == 0;
        break;
      case SEC_E_INCOMPLETE_MESSAGE:
        read = true;
        break;
      case SEC_I_INCOMPLETE_CREDENTIALS:
        // The relay asks for a client certificate: go on without one.
        read = false;
        break;
      case SEC_I_CONTEXT_EXPIRED:
        return Failure(TlsFailure::kHandshake, "the relay closed the connection");
      default:
        return Failure(TlsFailure::kHandshake, SchannelReason(status));
    }
  }
}

// The binary form of an IPv4 or IPv6 literal in address; 0 when name is no address.
std::size_t ParseAddress(const char* name, unsigned char (&address)[16]) {
  if (::inet_pton(AF_INET, name, address) == 1) return 4;
  if (::inet_pton(AF_INET6, name, address) == 1) return 16;
  return 0;
}

bool IsAddress(const char* name) {
  unsigned char address[16];
  return ParseAddress(name, address) != 0;
}

// Whether the certificate lists the address literal among its IP addresses.
// Checked here: wine's SSL policy never matches an address.
bool NamesAddress(PCCERT_CONTEXT certificate, const char* name) {
  unsigned char address[16];
  std::size_t length = ParseAddress(name, address);
  const CERT_INFO* info = certificate->pCertInfo;
  PCERT_EXTENSION extension = ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (length == 0 || extension == nullptr ||
      !::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
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

// Reads the whole CA file, up to kCaFileLimit; false when it cannot.
bool ReadWhole(const char* path, std::string& contents) {
  FileHandle file = OpenForReading(path);
  if (file == kNoFile) return false;
  char block[16384];
  bool complete = true;
  for (;;) {
    std::ptrdiff_t got = ReadFile(file, block, sizeof block);
    if (got <= 0) {
      complete = got == 0;
      break;
    }
    if (contents.size() + static_cast<std::size_t>(got) > kCaFileLimit) {
      complete = false;
      break;
    }
    contents.append(block, static_cast<std::size_t>(got));
  }
  CloseFile(file);
  return complete;
}

// A memory store with every certificate of the PEM file; nullptr with the
// reason when the file cannot be read or holds none.
HCERTSTORE LoadAnchors(const char* path, std::string& reason) {
  std::string contents;
  if (!ReadWhole(path, contents)) {
    reason = std::string("cannot read ") + path;
    return nullptr;
  }
  HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
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
    if (!::CryptStringToBinaryA(block.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr) ||
        size == 0) {
      continue;
    }
    std::unique_ptr<BYTE[]> der(new BYTE[size]);
    if (::CryptStringToBinaryA(block.data(), length, CRYPT_STRING_BASE64HEADER, der.get(), &size, nullptr, nullptr) &&
        ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.get(), size,
                                           CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      ++added;
    }
  }
  if (added == 0) {
    ::CertCloseStore(store, 0);
    reason = std::string("no certificate in ") + path;
    return nullptr;
  }
  return store;
}

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
            ::CertVerifyTimeValidity(nullptr, element->pCertContext->pCertInfo) < 0) {
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
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
    return Failure(TlsFailure::kUntrusted, "cannot check the certificate: error " + Hex(::GetLastError()));
  }
  if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
    return Failure(TlsFailure::kWrongName, "hostname mismatch");
  }
  if (status.dwError != 0) return Failure(TlsFailure::kUntrusted, PolicyReason(status.dwError));
  return {};
}

// Checks the relay's certificate chain against the anchors (the CA file's,
// or the system's when anchors is nullptr), and its name.
Outcome CheckCertificate(TlsSession* session, HCERTSTORE anchors, const char* serverName) {
  PCCERT_CONTEXT certificate = nullptr;
  if (::QueryContextAttributesA(&session->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
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
    if (!::CertCreateCertificateChainEngine(&config, &engine)) {
      ::CertFreeCertificateContext(certificate);
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
  if (::CertGetCertificateChain(engine, certificate, nullptr, certificate->hCertStore, &parameters, 0, nullptr,
                                &chain)) {
    outcome = JudgeChain(chain, certificate, serverName);
    ::CertFreeCertificateChain(chain);
  } else {
    outcome = Failure(TlsFailure::kUntrusted, "cannot build the certificate chain: error " + Hex(::GetLastError()));
  }
  if (engine != nullptr) ::CertFreeCertificateChainEngine(engine);
  ::CertFreeCertificateContext(certificate);
  return outcome;
}

std::string ProtocolName(DWORD protocol) {
  if (protocol & SP_PROT_TLS1_3_CLIENT) return "TLSv1.3";
  if (protocol & SP_PROT_TLS1_2_CLIENT) return "TLSv1.2";
  if (protocol & SP_PROT_TLS1_1_CLIENT) return "TLSv1.1";
  if (protocol & SP_PROT_TLS1_0_CLIENT) return "TLSv1";
  return "TLS";
}

std::string CipherName(ALG_ID cipher, DWORD strength) {
  switch (cipher) {
    case CALG_AES_128:
      return "AES-128";
    case CALG_AES_192:
      return "AES-192";
    case CALG_AES_256:
      return "AES-256";
    case CALG_AES:
      return "AES-" + std::to_string(strength);
    case CALG_3DES:
      return "3DES";
    default:
      return "cipher " + Hex(static_cast<long>(cipher)) + "-" + std::to_string(strength);
  }
}

// The protocol and the cipher suite (or, where Schannel does not name it, the cipher).
std::string Negotiated(TlsSession* session) {
  SecPkgContext_ConnectionInfo connection;
  std::memset(&connection, 0, sizeof connection);
  if (::QueryContextAttributesA(&session->context, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK) {
    return "TLS";
  }
  std::string text = ProtocolName(connection.dwProtocol) + " ";
  SecPkgContext_CipherInfo suite;
  std::memset(&suite, 0, sizeof suite);
  if (::QueryContextAttributesA(&session->context, SECPKG_ATTR_CIPHER_INFO, &suite) == SEC_E_OK) {
    // Only a whole IANA name: wine leaves parts it cannot name as "<unknown>".
    std::string name;
    for (std::size_t i = 0; i < SZ_ALG_MAX_SIZE && suite.szCipherSuite[i] != L'\0'; ++i) {
      wchar_t c = suite.szCipherSuite[i];
      bool plain = (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_';
      name += plain ? static_cast<char>(c) : '\0';
    }
    if (!name.empty() && name.find('\0') == std::string::npos) return text + name;
  }
  return text + CipherName(connection.aiCipher, connection.dwCipherStrength);
}

// TLS 1.2 or later, as on POSIX: checked again after the handshake, since
// wine ignores the protocols SCH_CREDENTIALS disables.
Outcome CheckProtocol(TlsSession* session) {
  SecPkgContext_ConnectionInfo connection;
  std::memset(&connection, 0, sizeof connection);
  if (::QueryContextAttributesA(&session->context, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK) {
    return Failure(TlsFailure::kHandshake, "Schannel does not say which protocol it negotiated");
  }
  if (connection.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) return {};
  return Failure(TlsFailure::kHandshake, "the relay offers only " + ProtocolName(connection.dwProtocol) +
                                             ", and TLS 1.2 or later is required");
}

// Credentials for TLS 1.2 and later, with the certificate checked by us:
// SCH_CREDENTIALS where Windows knows it (1809 and later), SCHANNEL_CRED before.
SECURITY_STATUS AcquireCredentials(CredHandle& credentials) {
  constexpr DWORD kFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  TimeStamp expiry;
  TLS_PARAMETERS parameters;
  std::memset(&parameters, 0, sizeof parameters);
  parameters.grbitDisabledProtocols = static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
  SCH_CREDENTIALS current;
  std::memset(&current, 0, sizeof current);
  current.dwVersion = SCH_CREDENTIALS_VERSION;
  current.dwFlags = kFlags;
  current.cTlsParameters = 1;
  current.pTlsParameters = &parameters;
  SECURITY_STATUS status =
      ::AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &current,
                                  nullptr, nullptr, &credentials, &expiry);
  if (status == SEC_E_OK) return status;
  SCHANNEL_CRED older;
  std::memset(&older, 0, sizeof older);
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  older.dwFlags = kFlags;
  return ::AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &older,
                                     nullptr, nullptr, &credentials, &expiry);
}

void Free(TlsSession* session) {
  if (session->haveContext) ::DeleteSecurityContext(&session->context);
  if (session->haveCredentials) ::FreeCredentialsHandle(&session->credentials);
  delete session;
}

TlsStart Failed(TlsSession* session, HCERTSTORE anchors, Outcome outcome) {
  if (anchors != nullptr) ::CertCloseStore(anchors, 0);
  Free(session);
  TlsStart start;
  start.failure = outcome.failure;
  start.detail = std::move(outcome.detail);
  return start;
}

// Goes on after DecryptMessage asked for a new handshake, with the bytes
// after its record; what the handshake leaves is ciphertext for TlsReceive.
IoStatus Renegotiate(TlsSession* session, Clock::time_point deadline) {
  std::memmove(session->incoming.get(), session->incoming.get() + session->extraOffset, session->extraLength);
  session->incomingUsed = session->extraLength;
  Outcome outcome = Handshake(session, false, deadline);
  session->extraOffset = 0;
  session->extraLength = session->incomingUsed;
  if (outcome.failure == TlsFailure::kNone) return IoStatus::kDone;
  return outcome.failure == TlsFailure::kTimedOut ? IoStatus::kTimedOut : IoStatus::kFailed;
}

}  // namespace

bool TlsBuiltIn() { return true; }

TlsStart StartTls(SocketHandle socket, const TlsOptions& options, int timeoutMs) {
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  auto* session = new TlsSession;
  session->socket = socket;
  if (!IsAddress(options.serverName)) session->target = options.serverName;
  HCERTSTORE anchors = nullptr;
  if (options.verify && options.caFile[0] != '\0') {
    std::string reason;
    anchors = LoadAnchors(options.caFile, reason);
    if (anchors == nullptr) {
      return Failed(session, nullptr, Failure(TlsFailure::kUntrusted, "cannot load the trust anchors: " + reason));
    }
  }
  SECURITY_STATUS status = AcquireCredentials(session->credentials);
  if (status != SEC_E_OK) {
    return Failed(session, anchors, Failure(TlsFailure::kHandshake, "no TLS credentials: " + SchannelReason(status)));
  }
  session->haveCredentials = true;

  SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, output};
  unsigned long attributes = 0;
  status = ::InitializeSecurityContextA(&session->credentials, nullptr, const_cast<char*>(TargetName(session)),
                                        kContextFlags, 0, 0, nullptr, 0, &session->context, &outputDescription,
                                        &attributes, nullptr);
  if (status != SEC_I_CONTINUE_NEEDED) {
    if (output[0].pvBuffer != nullptr) ::FreeContextBuffer(output[0].pvBuffer);
    return Failed(session, anchors, Failure(TlsFailure::kHandshake, SchannelReason(status)));
  }
  session->haveContext = true;
  IoStatus sent = SendToken(socket, output[0], deadline);
  if (sent != IoStatus::kDone) return Failed(session, anchors, ConnectionFailure(sent));
  Outcome outcome = Handshake(session, true, deadline);
  if (outcome.failure == TlsFailure::kNone) outcome = CheckProtocol(session);
  if (outcome.failure == TlsFailure::kNone && options.verify) {
    outcome = CheckCertificate(session, anchors, options.serverName);
  }
  if (outcome.failure != TlsFailure::kNone) return Failed(session, anchors, std::move(outcome));
  if (anchors != nullptr) ::CertCloseStore(anchors, 0);

  const SecPkgContext_StreamSizes& sizes = session->sizes;
  if (::QueryContextAttributesA(&session->context, SECPKG_ATTR_STREAM_SIZES, &session->sizes) != SEC_E_OK ||
      sizes.cbMaximumMessage == 0 || sizes.cbHeader + sizes.cbTrailer > kMaxRecord - kMaxPlainRecord) {
    return Failed(session, nullptr, Failure(TlsFailure::kHandshake, "no usable record sizes from Schannel"));
  }
  if (sizes.cbMaximumMessage > kMaxPlainRecord) session->sizes.cbMaximumMessage = kMaxPlainRecord;
  session->outgoing.reset(new char[sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer]);
  // What arrived after the handshake is ciphertext for TlsReceive.
  session->extraOffset = 0;
  session->extraLength = session->incomingUsed;
  TlsStart start;
  start.session = session;
  start.detail = Negotiated(session);
  return start;
}

IoResult TlsReceive(TlsSession* session, char* buffer, std::size_t capacity, int timeoutMs) {
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    if (session->plainLength > 0) {
      std::size_t count = capacity < session->plainLength ? capacity : session->plainLength;
      std::memcpy(buffer, session->incoming.get() + session->plainOffset, count);
      session->plainOffset += count;
      session->plainLength -= count;
      return {IoStatus::kDone, count};
    }
    if (session->closed) return {IoStatus::kClosed, 0};
    if (session->broken) return {IoStatus::kFailed, 0};
    if (session->renegotiating) {
      session->renegotiating = false;
      IoStatus renegotiated = Renegotiate(session, deadline);
      if (renegotiated != IoStatus::kDone) {
        session->broken = true;
        return {renegotiated, 0};
      }
    }
    // All plaintext is out: the ciphertext after it moves to the front.
    std::memmove(session->incoming.get(), session->incoming.get() + session->extraOffset, session->extraLength);
    session->incomingUsed = session->extraLength;
    session->extraOffset = 0;
    SECURITY_STATUS status = SEC_E_INCOMPLETE_MESSAGE;
    unsigned char recordType = session->incomingUsed > 0 ? static_cast<unsigned char>(session->incoming[0]) : 0;
    SecBuffer pieces[4] = {{static_cast<unsigned long>(session->incomingUsed), SECBUFFER_DATA, session->incoming.get()},
                           {0, SECBUFFER_EMPTY, nullptr},
                           {0, SECBUFFER_EMPTY, nullptr},
                           {0, SECBUFFER_EMPTY, nullptr}};
    if (session->incomingUsed > 0) {
      SecBufferDesc description{SECBUFFER_VERSION, 4, pieces};
      status = ::DecryptMessage(&session->context, &description, 0, nullptr);
    }
    if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
      std::size_t extra = 0;
      for (const SecBuffer& piece : pieces) {
        if (piece.BufferType == SECBUFFER_DATA && piece.pvBuffer != nullptr) {
          session->plainOffset = static_cast<std::size_t>(static_cast<char*>(piece.pvBuffer) - session->incoming.get());
          session->plainLength = piece.cbBuffer;
        }
        if (piece.BufferType == SECBUFFER_EXTRA) extra = piece.cbBuffer;
      }
      if (extra > session->incomingUsed || session->plainOffset + session->plainLength > session->incomingUsed) {
        session->broken = true;
        return {IoStatus::kFailed, 0};
      }
      session->extraOffset = session->incomingUsed - extra;
      session->extraLength = extra;
      // Wine hands a close_notify back as an empty SEC_E_OK: an alert record
      // (type 21) that gives no data ends the session as SEC_I_CONTEXT_EXPIRED does.
      if (status == SEC_E_OK && session->plainLength == 0 && recordType == kAlertRecord) {
        status = SEC_I_CONTEXT_EXPIRED;
      }
      if (status == SEC_I_CONTEXT_EXPIRED) {
        session->closed = true;
        session->plainLength = 0;
      }
      if (status == SEC_I_RENEGOTIATE) session->renegotiating = true;
      continue;
    }
    if (status != SEC_E_INCOMPLETE_MESSAGE) {
      session->broken = true;
      return {IoStatus::kFailed, 0};
    }
    session->extraOffset = 0;
    IoStatus got = ReceiveMore(session, deadline);
    session->extraLength = session->incomingUsed;
    if (got != IoStatus::kDone) return {got, 0};
  }
}

IoResult TlsSend(TlsSession* session, const char* data, std::size_t length, int timeoutMs) {
  if (session->broken) return {IoStatus::kFailed, 0};
  if (length == 0) return {IoStatus::kDone, 0};
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  const SecPkgContext_StreamSizes& sizes = session->sizes;
  unsigned long piece = length < sizes.cbMaximumMessage ? static_cast<unsigned long>(length) : sizes.cbMaximumMessage;
  char* record = session->outgoing.get();
  std::memcpy(record + sizes.cbHeader, data, piece);
  SecBuffer parts[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, record},
                        {piece, SECBUFFER_DATA, record + sizes.cbHeader},
                        {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes.cbHeader + piece},
                        {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc description{SECBUFFER_VERSION, 4, parts};
  if (::EncryptMessage(&session->context, 0, &description, 0) != SEC_E_OK) {
    session->broken = true;
    return {IoStatus::kFailed, 0};
  }
  std::size_t total = static_cast<std::size_t>(parts[0].cbBuffer) + parts[1].cbBuffer + parts[2].cbBuffer;
  IoStatus sent = SendAll(session->socket, record, total, deadline);
  if (sent != IoStatus::kDone) {
    session->broken = true;
    return {sent, 0};
  }
  return {IoStatus::kDone, piece};
}

void EndTls(TlsSession* session, int timeoutMs) {
  if (session == nullptr) return;
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  // Our close_notify only: the relay's answer is not waited for.
  if (!session->broken) {
    DWORD shutdown = SCHANNEL_SHUTDOWN;
    SecBuffer control[1] = {{sizeof shutdown, SECBUFFER_TOKEN, &shutdown}};
    SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, control};
    if (::ApplyControlToken(&session->context, &controlDescription) == SEC_E_OK) {
      SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
      SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, output};
      unsigned long attributes = 0;
      SECURITY_STATUS status = ::InitializeSecurityContextA(
          &session->credentials, &session->context, const_cast<char*>(TargetName(session)), kContextFlags, 0, 0,
          nullptr, 0, &session->context, &outputDescription, &attributes, nullptr);
      if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
        SendToken(session->socket, output[0], deadline);
      } else if (output[0].pvBuffer != nullptr) {
        ::FreeContextBuffer(output[0].pvBuffer);
      }
    }
  }
  Free(session);
}

}  // namespace platform
