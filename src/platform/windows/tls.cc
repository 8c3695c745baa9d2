#include "platform/tls.h"

#include "platform/shared.h"
#include "platform/windows/tls_certificate.h"

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
    Schannel().FreeContextBuffer(token.pvBuffer);
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
  bool certificateAsked = false;
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
    SECURITY_STATUS status = Schannel().InitializeSecurityContextA(
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
        // The relay asks for a client certificate: go on without one, once.
        if (certificateAsked) return Failure(TlsFailure::kHandshake, "the relay insists on a client certificate");
        certificateAsked = true;
        read = false;
        break;
      case SEC_I_CONTEXT_EXPIRED:
        return Failure(TlsFailure::kHandshake, "the relay closed the connection");
      default:
        return Failure(TlsFailure::kHandshake, SchannelReason(status));
    }
  }
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
  if (Schannel().QueryContextAttributesA(&session->context, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK) {
    return "TLS";
  }
  std::string text = ProtocolName(connection.dwProtocol) + " ";
  SecPkgContext_CipherInfo suite;
  std::memset(&suite, 0, sizeof suite);
  if (Schannel().QueryContextAttributesA(&session->context, SECPKG_ATTR_CIPHER_INFO, &suite) == SEC_E_OK) {
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
  if (Schannel().QueryContextAttributesA(&session->context, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK) {
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
      Schannel().AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                           &current, nullptr, nullptr, &credentials, &expiry);
  if (status == SEC_E_OK) return status;
  SCHANNEL_CRED older;
  std::memset(&older, 0, sizeof older);
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  older.dwFlags = kFlags;
  return Schannel().AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                              &older, nullptr, nullptr, &credentials, &expiry);
}

void Free(TlsSession* session) {
  // The record buffer may still hold plaintext (an AUTH line) when a send failed.
  if (session->outgoing) {
    ::SecureZeroMemory(session->outgoing.get(),
                       session->sizes.cbHeader + session->sizes.cbMaximumMessage + session->sizes.cbTrailer);
  }
  if (session->haveContext) Schannel().DeleteSecurityContext(&session->context);
  if (session->haveCredentials) Schannel().FreeCredentialsHandle(&session->credentials);
  delete session;
}

TlsStart Failed(TlsSession* session, HCERTSTORE anchors, Outcome outcome) {
  if (anchors != nullptr) Schannel().CertCloseStore(anchors, 0);
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

const SchannelLibrary& Schannel() {
  static const SchannelLibrary library = [] {
    SchannelLibrary table;
    const char* name = "secur32.dll";
    HMODULE module = ::LoadLibraryA(name);
    bool found = module != nullptr;
#define RYMAIL_LOOK_UP(function)                                                                     \
  if (found) {                                                                                       \
    table.function = reinterpret_cast<decltype(table.function)>(                                     \
        reinterpret_cast<void*>(::GetProcAddress(module, #function)));                               \
    found = table.function != nullptr;                                                               \
  }
    RYMAIL_SECUR32_FUNCTIONS(RYMAIL_LOOK_UP)
    if (found) {
      name = "crypt32.dll";
      module = ::LoadLibraryA(name);
      found = module != nullptr;
    }
    RYMAIL_CRYPT32_FUNCTIONS(RYMAIL_LOOK_UP)
#undef RYMAIL_LOOK_UP
    if (!found) {
      table.failure = std::string("TLS is not available: ") + name + " cannot be loaded (error " +
                      std::to_string(::GetLastError()) + ")";
    }
    return table;
  }();
  return library;
}

bool TlsBuiltIn() { return true; }

std::string TlsLibraryVersion() { return "Schannel"; }

TlsStart StartTls(SocketHandle socket, const TlsOptions& options, int timeoutMs) {
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  if (const std::string& failure = Schannel().failure; !failure.empty()) {
    TlsStart start;
    start.failure = TlsFailure::kUnavailable;
    start.detail = failure;
    return start;
  }
  auto* session = new TlsSession;
  session->socket = socket;
  if (!IsAddress(options.serverName)) session->target = options.serverName;
  HCERTSTORE anchors = nullptr;
  if (options.verify && !options.caPem.empty()) {
    std::string reason;
    anchors = LoadAnchors(options.caPem, reason);
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
  status = Schannel().InitializeSecurityContextA(&session->credentials, nullptr, const_cast<char*>(TargetName(session)),
                                                 kContextFlags, 0, 0, nullptr, 0, &session->context, &outputDescription,
                                                 &attributes, nullptr);
  if (status != SEC_I_CONTINUE_NEEDED) {
    if (output[0].pvBuffer != nullptr) Schannel().FreeContextBuffer(output[0].pvBuffer);
    return Failed(session, anchors, Failure(TlsFailure::kHandshake, SchannelReason(status)));
  }
  session->haveContext = true;
  IoStatus sent = SendToken(socket, output[0], deadline);
  if (sent != IoStatus::kDone) return Failed(session, anchors, ConnectionFailure(sent));
  Outcome outcome = Handshake(session, true, deadline);
  if (outcome.failure == TlsFailure::kNone) outcome = CheckProtocol(session);
  if (outcome.failure == TlsFailure::kNone && options.verify) {
    outcome = CheckCertificate(&session->context, anchors, options.serverName);
  }
  if (outcome.failure != TlsFailure::kNone) return Failed(session, anchors, std::move(outcome));
  if (anchors != nullptr) Schannel().CertCloseStore(anchors, 0);

  const SecPkgContext_StreamSizes& sizes = session->sizes;
  if (Schannel().QueryContextAttributesA(&session->context, SECPKG_ATTR_STREAM_SIZES, &session->sizes) != SEC_E_OK ||
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
      status = Schannel().DecryptMessage(&session->context, &description, 0, nullptr);
    }
    if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
      std::size_t extra = 0;
      session->plainOffset = 0;  // a record may give no data (an alert)
      session->plainLength = 0;
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
  if (Schannel().EncryptMessage(&session->context, 0, &description, 0) != SEC_E_OK) {
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
    if (Schannel().ApplyControlToken(&session->context, &controlDescription) == SEC_E_OK) {
      SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
      SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, output};
      unsigned long attributes = 0;
      SECURITY_STATUS status = Schannel().InitializeSecurityContextA(
          &session->credentials, &session->context, const_cast<char*>(TargetName(session)), kContextFlags, 0, 0,
          nullptr, 0, &session->context, &outputDescription, &attributes, nullptr);
      if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
        SendToken(session->socket, output[0], deadline);
      } else if (output[0].pvBuffer != nullptr) {
        Schannel().FreeContextBuffer(output[0].pvBuffer);
      }
    }
  }
  Free(session);
}

}  // namespace platform
