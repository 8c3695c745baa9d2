#include "platform/tls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include "platform/shared.h"

namespace platform {

struct TlsSession {
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
std::string LastReason(int sslError) {
  unsigned long code = ERR_get_error();
  if (code != 0) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
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

void Free(TlsSession* session) {
  if (session->ssl) SSL_free(session->ssl);
  if (session->context) SSL_CTX_free(session->context);
  delete session;
}

TlsStart Failed(TlsSession* session, TlsFailure failure, std::string detail) {
  Free(session);
  TlsStart start;
  start.failure = failure;
  start.detail = std::move(detail);
  return start;
}

}  // namespace

bool TlsBuiltIn() { return true; }

TlsStart StartTls(SocketHandle socket, const TlsOptions& options, int timeoutMs) {
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  auto* session = new TlsSession;
  session->fd = static_cast<int>(socket);
  session->context = SSL_CTX_new(TLS_client_method());
  if (session->context == nullptr) return Failed(session, TlsFailure::kHandshake, LastReason(SSL_ERROR_SSL));
  SSL_CTX_set_min_proto_version(session->context, TLS1_2_VERSION);
  SSL_CTX_set_mode(session->context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (options.verify) {
    bool loaded = options.caFile[0] != '\0'
                      ? SSL_CTX_load_verify_locations(session->context, options.caFile, nullptr) == 1
                      : SSL_CTX_set_default_verify_paths(session->context) == 1;
    if (!loaded) {
      return Failed(session, TlsFailure::kUntrusted, "cannot load the trust anchors: " + LastReason(SSL_ERROR_SSL));
    }
    SSL_CTX_set_verify(session->context, SSL_VERIFY_PEER, nullptr);
  }
  session->ssl = SSL_new(session->context);
  if (session->ssl == nullptr || SSL_set_fd(session->ssl, session->fd) != 1) {
    return Failed(session, TlsFailure::kHandshake, LastReason(SSL_ERROR_SSL));
  }
  bool address = IsAddress(options.serverName);
  if (!address) SSL_set_tlsext_host_name(session->ssl, options.serverName);
  if (options.verify) {
    X509_VERIFY_PARAM* parameters = SSL_get0_param(session->ssl);
    X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    bool named = address ? X509_VERIFY_PARAM_set1_ip_asc(parameters, options.serverName) == 1
                         : X509_VERIFY_PARAM_set1_host(parameters, options.serverName, 0) == 1;
    if (!named) return Failed(session, TlsFailure::kHandshake, "cannot check the name " + std::string(options.serverName));
  }
  // Every wait is bounded by poll: the socket itself never blocks from here on.
  int flags = ::fcntl(session->fd, F_GETFL);
  if (flags < 0 || ::fcntl(session->fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    return Failed(session, TlsFailure::kHandshake, "cannot make the socket non-blocking");
  }

  ERR_clear_error();
  for (;;) {
    int result = SSL_connect(session->ssl);
    if (result == 1) break;
    int error = SSL_get_error(session->ssl, result);
    if (IsWait(error)) {
      IoStatus waited = WaitFor(session->fd, error, deadline);
      if (waited == IoStatus::kTimedOut) return Failed(session, TlsFailure::kTimedOut, "the handshake timed out");
      if (waited == IoStatus::kDone) continue;
    }
    long verified = SSL_get_verify_result(session->ssl);
    if (options.verify && verified != X509_V_OK) {
      bool wrongName = verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH;
      ERR_clear_error();
      return Failed(session, wrongName ? TlsFailure::kWrongName : TlsFailure::kUntrusted,
                    X509_verify_cert_error_string(verified));
    }
    return Failed(session, TlsFailure::kHandshake, LastReason(error));
  }
  if (options.verify && SSL_get_verify_result(session->ssl) != X509_V_OK) {
    return Failed(session, TlsFailure::kUntrusted, X509_verify_cert_error_string(SSL_get_verify_result(session->ssl)));
  }
  TlsStart start;
  start.session = session;
  start.detail = std::string(SSL_get_version(session->ssl)) + " " + SSL_get_cipher_name(session->ssl);
  return start;
}

IoResult TlsReceive(TlsSession* session, char* buffer, std::size_t capacity, int timeoutMs) {
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  int length = capacity > 0x7fffffff ? 0x7fffffff : static_cast<int>(capacity);
  for (;;) {
    ERR_clear_error();
    int got = SSL_read(session->ssl, buffer, length);
    if (got > 0) return {IoStatus::kDone, static_cast<std::size_t>(got)};
    int error = SSL_get_error(session->ssl, got);
    if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)) {
      return {IoStatus::kClosed, 0};
    }
    if (!IsWait(error)) return {IoStatus::kFailed, 0};
    IoStatus waited = WaitFor(session->fd, error, deadline);
    if (waited != IoStatus::kDone) return {waited, 0};
  }
}

IoResult TlsSend(TlsSession* session, const char* data, std::size_t length, int timeoutMs) {
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  int piece = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
  for (;;) {
    ERR_clear_error();
    int sent = SSL_write(session->ssl, data, piece);
    if (sent > 0) return {IoStatus::kDone, static_cast<std::size_t>(sent)};
    int error = SSL_get_error(session->ssl, sent);
    if (!IsWait(error)) return {IoStatus::kFailed, 0};
    IoStatus waited = WaitFor(session->fd, error, deadline);
    if (waited != IoStatus::kDone) return {waited, 0};
  }
}

void EndTls(TlsSession* session, int timeoutMs) {
  if (session == nullptr) return;
  Clock::time_point deadline = DeadlineAfter(timeoutMs);
  // Our close_notify only: the relay's answer is not waited for.
  for (;;) {
    ERR_clear_error();
    int result = SSL_shutdown(session->ssl);
    if (result >= 0) break;
    int error = SSL_get_error(session->ssl, result);
    if (!IsWait(error) || WaitFor(session->fd, error, deadline) != IoStatus::kDone) break;
  }
  ERR_clear_error();
  Free(session);
}

}  // namespace platform
