#include "platform/tls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include "platform/shared.h"

namespace platform {
namespace {

// Everything RyMail uses of OpenSSL 3. The program does not link it: the
// first TLS session opens libssl.so.3 (which brings libcrypto.so.3) and looks
// these up, so a run without TLS never maps either library. The headers'
// declarations give each pointer its type; calling a function by its own name
// instead of through the table fails to link.
#define RYMAIL_OPENSSL_FUNCTIONS(F)                                                                     \
  F(TLS_client_method) F(SSL_CTX_new) F(SSL_CTX_free) F(SSL_CTX_ctrl) F(SSL_CTX_set_verify)              \
  F(SSL_CTX_load_verify_locations) F(SSL_CTX_get_cert_store) F(X509_STORE_add_lookup)                    \
  F(X509_LOOKUP_hash_dir) F(X509_LOOKUP_file) F(X509_LOOKUP_ctrl) F(X509_get_default_cert_dir)           \
  F(X509_get_default_cert_dir_env) F(X509_get_default_cert_file_env)                                     \
  F(SSL_new) F(SSL_free) F(SSL_set_fd) F(SSL_ctrl) F(SSL_get0_param) F(X509_VERIFY_PARAM_set_hostflags)  \
  F(X509_VERIFY_PARAM_set1_host) F(X509_VERIFY_PARAM_set1_ip_asc)                                        \
  F(SSL_connect) F(SSL_read) F(SSL_write) F(SSL_shutdown) F(SSL_get_error) F(SSL_get_verify_result)      \
  F(X509_verify_cert_error_string) F(SSL_get_version) F(SSL_get_current_cipher) F(SSL_CIPHER_get_name)   \
  F(ERR_get_error) F(ERR_peek_error) F(ERR_error_string_n) F(ERR_clear_error)                              \
  F(BIO_new_mem_buf) F(BIO_free) F(PEM_read_bio_X509) F(X509_STORE_add_cert) F(X509_free)                \
  F(SSL_get1_peer_certificate) F(X509_get_ext_by_NID) F(OpenSSL_version)

constexpr char kLibraryName[] = "libssl.so.3";

struct OpenSsl {
#define RYMAIL_DECLARE(name) decltype(&::name) name = nullptr;
  RYMAIL_OPENSSL_FUNCTIONS(RYMAIL_DECLARE)
#undef RYMAIL_DECLARE
  std::string failure;  // empty once every function was found
};

// Opens the library and fills the table, once per process; later calls
// return the same table, or the same failure.
const OpenSsl& Library() {
  static const OpenSsl library = [] {
    OpenSsl table;
    void* handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    bool found = handle != nullptr;
#define RYMAIL_LOOK_UP(name)                                                         \
  if (found) {                                                                       \
    table.name = reinterpret_cast<decltype(table.name)>(::dlsym(handle, #name));     \
    found = table.name != nullptr;                                                   \
  }
    RYMAIL_OPENSSL_FUNCTIONS(RYMAIL_LOOK_UP)
#undef RYMAIL_LOOK_UP
    if (!found) {
      const char* why = ::dlerror();
      table.failure = std::string("TLS is not available: ") + kLibraryName + " cannot be loaded (" +
                      (why != nullptr ? why : "unknown reason") + ")";
    }
    return table;
  }();
  return library;
}

}  // namespace

struct TlsSession {
  const OpenSsl& api;
  SSL_CTX* context = nullptr;
  SSL* ssl = nullptr;
  int fd = -1;
};

namespace {

// Waits for what OpenSSL asked for; kTimedOut when the deadline passes first.
IoStatus WaitFor(int fd, int sslError, Clock::time_point deadline) {
  pollfd entry{fd, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
  for (;;) {
    int ready = ::poll(&entry, 1, RemainingMs(deadline));
    if (ready > 0) return IoStatus::kDone;
    if (ready == 0) return IoStatus::kTimedOut;
    if (errno != EINTR) return IoStatus::kFailed;
  }
}

bool IsWait(int sslError) { return sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE; }

// The library's own reason for the last failure, or what the socket said.
std::string LastReason(const OpenSsl& api, int sslError) {
  unsigned long code = api.ERR_get_error();
  if (code != 0) {
    char text[256];
    api.ERR_error_string_n(code, text, sizeof text);
    api.ERR_clear_error();
    return text;
  }
  if (sslError == SSL_ERROR_ZERO_RETURN || (sslError == SSL_ERROR_SYSCALL && errno == 0)) {
    return "the relay closed the connection";
  }
  if (sslError == SSL_ERROR_SYSCALL) return std::string("connection error: ") + std::strerror(errno);
  return "TLS error " + std::to_string(sslError);
}

bool IsAddress(const char* name) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, name, address) == 1 || ::inet_pton(AF_INET6, name, address) == 1;
}

// Whether one of the directories (a list separated by ':') holds a
// certificate under its hashed name, such as "1a2b3c4d.0".
bool HoldsHashedNames(std::string_view directories) {
  while (!directories.empty()) {
    std::size_t end = directories.find(':');
    std::string directory(directories.substr(0, end));
    directories = end == std::string_view::npos ? std::string_view() : directories.substr(end + 1);
    DIR* listing = directory.empty() ? nullptr : ::opendir(directory.c_str());
    if (listing == nullptr) continue;
    bool found = false;
    while (const dirent* entry = ::readdir(listing)) {
      std::string_view name = entry->d_name;
      if (name.size() >= 10 && name[8] == '.' && name.find_first_not_of("0123456789abcdef") == 8) {
        found = true;
        break;
      }
    }
    ::closedir(listing);
    if (found) return true;
  }
  return false;
}

// The system's trust anchors, read when a chain needs one: the hashed
// directory (SSL_CERT_DIR, else OpenSSL's own) is searched by subject name.
// The file of anchors (SSL_CERT_FILE, else OpenSSL's own) is read whole only
// when SSL_CERT_FILE names one or no directory holds hashed names, as on
// systems that keep a bundle only. Unreadable places are skipped, as
// OpenSSL's defaults skip them; false only when memory runs out.
bool AddSystemAnchors(const OpenSsl& api, SSL_CTX* context) {
  X509_STORE* store = api.SSL_CTX_get_cert_store(context);
  X509_LOOKUP* directory = api.X509_STORE_add_lookup(store, api.X509_LOOKUP_hash_dir());
  if (directory == nullptr) return false;
  api.X509_LOOKUP_ctrl(directory, X509_L_ADD_DIR, nullptr, X509_FILETYPE_DEFAULT, nullptr);
  const char* directories = std::getenv(api.X509_get_default_cert_dir_env());
  if (directories == nullptr) directories = api.X509_get_default_cert_dir();
  if (std::getenv(api.X509_get_default_cert_file_env()) != nullptr || !HoldsHashedNames(directories)) {
    X509_LOOKUP* file = api.X509_STORE_add_lookup(store, api.X509_LOOKUP_file());
    if (file == nullptr) return false;
    api.X509_LOOKUP_ctrl(file, X509_L_FILE_LOAD, nullptr, X509_FILETYPE_DEFAULT, nullptr);
  }
  api.ERR_clear_error();
  return true;
}

// Every certificate of the PEM text joins the trust anchors; false when none is there.
bool AddAnchorsFrom(const OpenSsl& api, SSL_CTX* context, std::string_view pem) {
  BIO* bytes = api.BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (bytes == nullptr) return false;
  X509_STORE* store = api.SSL_CTX_get_cert_store(context);
  int added = 0;
  while (X509* certificate = api.PEM_read_bio_X509(bytes, nullptr, nullptr, nullptr)) {
    if (api.X509_STORE_add_cert(store, certificate) == 1) ++added;
    api.X509_free(certificate);
  }
  api.BIO_free(bytes);
  api.ERR_clear_error();  // the end of the text reads as an error
  return added > 0;
}

// Whether the relay's certificate has a subjectAltName: the only place a name is looked for.
bool HasSubjectAltName(const OpenSsl& api, SSL* ssl) {
  X509* certificate = api.SSL_get1_peer_certificate(ssl);
  if (certificate == nullptr) return false;
  bool has = api.X509_get_ext_by_NID(certificate, NID_subject_alt_name, -1) >= 0;
  api.X509_free(certificate);
  return has;
}

void Free(TlsSession* session) {
  if (session->ssl) session->api.SSL_free(session->ssl);
  if (session->context) session->api.SSL_CTX_free(session->context);
  delete session;
}

TlsStart Failed(TlsSession* session, TlsFailure failure, std::string detail) {
  if (session != nullptr) Free(session);
  TlsStart start;
  start.failure = failure;
  start.detail = std::move(detail);
  return start;
}

}  // namespace

bool TlsBuiltIn() { return true; }

std::string TlsLibraryVersion() {
  const OpenSsl& api = Library();
  return api.failure.empty() ? api.OpenSSL_version(OPENSSL_VERSION) : "OpenSSL 3, not loadable";
}

TlsStart StartTls(SocketHandle socket, const TlsOptions& options, int timeoutMs) {
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  const OpenSsl& api = Library();
  if (!api.failure.empty()) return Failed(nullptr, TlsFailure::kUnavailable, api.failure);
  auto* session = new TlsSession{api};
  session->fd = static_cast<int>(socket);
  session->context = api.SSL_CTX_new(api.TLS_client_method());
  if (session->context == nullptr) return Failed(session, TlsFailure::kHandshake, LastReason(api, SSL_ERROR_SSL));
  api.SSL_CTX_ctrl(session->context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  api.SSL_CTX_ctrl(session->context, SSL_CTRL_MODE, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER,
                   nullptr);
  if (options.verify) {
    bool loaded = !options.caPem.empty() ? AddAnchorsFrom(api, session->context, options.caPem)
                                         : AddSystemAnchors(api, session->context);
    if (!loaded) {
      return Failed(session, TlsFailure::kUntrusted,
                    options.caPem.empty() ? "cannot load the trust anchors: " + LastReason(api, SSL_ERROR_SSL)
                                          : std::string("no certificate in the CaFile"));
    }
    api.SSL_CTX_set_verify(session->context, SSL_VERIFY_PEER, nullptr);
  }
  session->ssl = api.SSL_new(session->context);
  if (session->ssl == nullptr || api.SSL_set_fd(session->ssl, session->fd) != 1) {
    return Failed(session, TlsFailure::kHandshake, LastReason(api, SSL_ERROR_SSL));
  }
  bool address = IsAddress(options.serverName);
  if (!address) {
    api.SSL_ctrl(session->ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                 const_cast<char*>(options.serverName));
  }
  if (options.verify) {
    X509_VERIFY_PARAM* parameters = api.SSL_get0_param(session->ssl);
    // A name only in the subject's CN does not count (RFC 9525).
    api.X509_VERIFY_PARAM_set_hostflags(parameters,
                                        X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    bool named = address ? api.X509_VERIFY_PARAM_set1_ip_asc(parameters, options.serverName) == 1
                         : api.X509_VERIFY_PARAM_set1_host(parameters, options.serverName, 0) == 1;
    if (!named) {
      return Failed(session, TlsFailure::kHandshake, "cannot check the name " + std::string(options.serverName));
    }
  }
  // Every wait is bounded by poll: the socket itself never blocks from here on.
  int flags = ::fcntl(session->fd, F_GETFL);
  if (flags < 0 || ::fcntl(session->fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    return Failed(session, TlsFailure::kHandshake, "cannot make the socket non-blocking");
  }

  api.ERR_clear_error();
  for (;;) {
    int result = api.SSL_connect(session->ssl);
    if (result == 1) break;
    int error = api.SSL_get_error(session->ssl, result);
    if (IsWait(error)) {
      IoStatus waited = WaitFor(session->fd, error, deadline);
      if (waited == IoStatus::kTimedOut) return Failed(session, TlsFailure::kTimedOut, "the handshake timed out");
      if (waited == IoStatus::kDone) continue;
    }
    long verified = api.SSL_get_verify_result(session->ssl);
    if (options.verify && verified != X509_V_OK) {
      bool wrongName = verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH;
      api.ERR_clear_error();
      if (wrongName && !HasSubjectAltName(api, session->ssl)) {
        return Failed(session, TlsFailure::kWrongName, "it has no subjectAltName");
      }
      return Failed(session, wrongName ? TlsFailure::kWrongName : TlsFailure::kUntrusted,
                    api.X509_verify_cert_error_string(verified));
    }
    return Failed(session, TlsFailure::kHandshake, LastReason(api, error));
  }
  if (options.verify && api.SSL_get_verify_result(session->ssl) != X509_V_OK) {
    return Failed(session, TlsFailure::kUntrusted,
                  api.X509_verify_cert_error_string(api.SSL_get_verify_result(session->ssl)));
  }
  TlsStart start;
  start.session = session;
  start.detail = std::string(api.SSL_get_version(session->ssl)) + " " +
                 api.SSL_CIPHER_get_name(api.SSL_get_current_cipher(session->ssl));
  return start;
}

IoResult TlsReceive(TlsSession* session, char* buffer, std::size_t capacity, int timeoutMs) {
  const OpenSsl& api = session->api;
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  int length = capacity > 0x7fffffff ? 0x7fffffff : static_cast<int>(capacity);
  for (;;) {
    api.ERR_clear_error();
    int got = api.SSL_read(session->ssl, buffer, length);
    if (got > 0) return {IoStatus::kDone, static_cast<std::size_t>(got)};
    int error = api.SSL_get_error(session->ssl, got);
    if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && api.ERR_peek_error() == 0)) {
      return {IoStatus::kClosed, 0};
    }
    if (!IsWait(error)) return {IoStatus::kFailed, 0};
    IoStatus waited = WaitFor(session->fd, error, deadline);
    if (waited != IoStatus::kDone) return {waited, 0};
  }
}

IoResult TlsSend(TlsSession* session, const char* data, std::size_t length, int timeoutMs) {
  const OpenSsl& api = session->api;
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  int piece = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
  for (;;) {
    api.ERR_clear_error();
    int sent = api.SSL_write(session->ssl, data, piece);
    if (sent > 0) return {IoStatus::kDone, static_cast<std::size_t>(sent)};
    int error = api.SSL_get_error(session->ssl, sent);
    if (!IsWait(error)) return {IoStatus::kFailed, 0};
    IoStatus waited = WaitFor(session->fd, error, deadline);
    if (waited != IoStatus::kDone) return {waited, 0};
  }
}

void EndTls(TlsSession* session, int timeoutMs) {
  if (session == nullptr) return;
  const OpenSsl& api = session->api;
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  // Our close_notify only: the relay's answer is not waited for.
  for (;;) {
    api.ERR_clear_error();
    int result = api.SSL_shutdown(session->ssl);
    if (result >= 0) break;
    int error = api.SSL_get_error(session->ssl, result);
    if (!IsWait(error) || WaitFor(session->fd, error, deadline) != IoStatus::kDone) break;
  }
  api.ERR_clear_error();
  Free(session);
}

}  // namespace platform
