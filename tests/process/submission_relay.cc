#include "process/submission_relay.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <deque>

#include "process/scripted_relay.h"
#include "test_files.h"

namespace {

constexpr long kDay = 24 * 60 * 60;

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

// A certificate for the key; self-signed when issuer is null (a CA).
X509* MakeCertificate(EVP_PKEY* key, const char* commonName, const char* names, X509* issuer, EVP_PKEY* issuerKey,
                      long fromSeconds, long toSeconds) {
  static long serial = 1;
  X509* certificate = X509_new();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
  X509_gmtime_adj(X509_getm_notBefore(certificate), fromSeconds);
  X509_gmtime_adj(X509_getm_notAfter(certificate), toSeconds);
  X509_set_pubkey(certificate, key);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509_set_issuer_name(certificate, issuer ? X509_get_subject_name(issuer) : name);
  X509* signer = issuer ? issuer : certificate;
  AddExtension(certificate, signer, NID_subject_key_identifier, "hash");
  AddExtension(certificate, signer, NID_authority_key_identifier, "keyid:always");
  if (issuer == nullptr) {
    AddExtension(certificate, signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(certificate, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(certificate, signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(certificate, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(certificate, signer, NID_ext_key_usage, "serverAuth");
    if (*names != '\0') AddExtension(certificate, signer, NID_subject_alt_name, names);
  }
  X509_sign(certificate, issuer ? issuerKey : key, EVP_sha256());
  return certificate;
}

void WritePem(const std::string& path, X509* certificate, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  PEM_write_X509(file, certificate);
  if (key) PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(file);
}

TestCertificates MakeCertificates() {
  static TempDir dir;  // lives as long as the test process
  TestCertificates made;
  EVP_PKEY* caKey = EVP_EC_gen("P-256");
  EVP_PKEY* otherCaKey = EVP_EC_gen("P-256");
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* ca = MakeCertificate(caKey, "RyMail Test CA", "", nullptr, nullptr, -kDay, 30 * kDay);
  X509* otherCa = MakeCertificate(otherCaKey, "Another Test CA", "", nullptr, nullptr, -kDay, 30 * kDay);
  made.caFile = dir.path() + "/ca.pem";
  WritePem(made.caFile, ca, nullptr);
  made.caDirectory = dir.path() + "/hashed";
  char hashedName[16];
  std::snprintf(hashedName, sizeof hashedName, "/%08lx.0", X509_subject_name_hash(ca));
  if (::mkdir(made.caDirectory.c_str(), 0700) == 0) WritePem(made.caDirectory + hashedName, ca, nullptr);
  struct Server {
    std::string* path;
    const char* file;
    const char* names;
    X509* issuer;
    EVP_PKEY* issuerKey;
    long from, to;
  } servers[] = {
      {&made.good, "good.pem", "DNS:localhost,IP:127.0.0.1", ca, caKey, -kDay, 30 * kDay},
      {&made.withIpv6, "with-ipv6.pem", "DNS:localhost,IP:127.0.0.1,IP:::1", ca, caKey, -kDay, 30 * kDay},
      {&made.otherName, "other-name.pem", "DNS:other.example.com", ca, caKey, -kDay, 30 * kDay},
      {&made.expired, "expired.pem", "DNS:localhost,IP:127.0.0.1", ca, caKey, -3 * kDay, -kDay},
      {&made.unknownCa, "unknown-ca.pem", "DNS:localhost,IP:127.0.0.1", otherCa, otherCaKey, -kDay, 30 * kDay},
      {&made.commonNameOnly, "cn-only.pem", "", ca, caKey, -kDay, 30 * kDay},
  };
  for (const Server& server : servers) {
    X509* certificate = MakeCertificate(key, "localhost", server.names, server.issuer, server.issuerKey, server.from,
                                        server.to);
    *server.path = dir.path() + "/" + server.file;
    WritePem(*server.path, certificate, key);
    X509_free(certificate);
  }
  X509_free(ca);
  X509_free(otherCa);
  EVP_PKEY_free(caKey);
  EVP_PKEY_free(otherCaKey);
  EVP_PKEY_free(key);
  return made;
}

// One side of the connection, in clear or through TLS.
class Channel {
 public:
  explicit Channel(int fd) : fd_(fd) {}
  ~Channel() {
    if (ssl_) SSL_free(ssl_);
    if (context_) SSL_CTX_free(context_);
  }
  bool Secure() const { return ssl_ != nullptr; }
  const std::string& ServerName() const { return serverName_; }

  bool Handshake(const std::string& certificate) {
    context_ = SSL_CTX_new(TLS_server_method());
    if (SSL_CTX_use_certificate_chain_file(context_, certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_, certificate.c_str(), SSL_FILETYPE_PEM) != 1) {
      return false;
    }
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, fd_);
    bool accepted = SSL_accept(ssl_) == 1;
    const char* name = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name);
    serverName_ = name ? name : "";
    ERR_clear_error();
    return accepted;
  }
  ssize_t Read(char* buffer, std::size_t capacity) {
    return ssl_ ? SSL_read(ssl_, buffer, static_cast<int>(capacity)) : ::recv(fd_, buffer, capacity, 0);
  }
  bool Write(const std::string& text) {
    if (ssl_) return SSL_write(ssl_, text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }

 private:
  int fd_;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  std::string serverName_;
};

std::string Verb(const std::string& line) {
  std::string verb = line.substr(0, line.find_first_of(" \r\n"));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

const std::map<std::string, std::string> kAccepting = {
    {"GREETING", "220 relay.example.com ESMTP ready\r\n"},
    {"EHLO", "250-relay.example.com\r\n250-PIPELINING\r\n250 STARTTLS\r\n"},
    {"EHLO-TLS", "250-relay.example.com\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n"},
    {"HELO", "250 relay.example.com\r\n"},
    {"STARTTLS", "220 2.0.0 Ready to start TLS\r\n"},
    {"AUTH", "235 2.7.0 Authentication successful\r\n"},
    {"MAIL", "250 2.1.0 Ok\r\n"},
    {"RCPT", "250 2.1.5 Ok\r\n"},
    {"DATA", "354 End data with <CR><LF>.<CR><LF>\r\n"},
    {".", "250 2.0.0 Ok: queued\r\n"},
    {"QUIT", "221 2.0.0 Bye\r\n"},
};

}  // namespace

const TestCertificates& Certificates() {
  static const TestCertificates made = MakeCertificates();
  return made;
}

SubmissionRelay::SubmissionRelay(Options options, int idleTimeoutMs)
    : options_(std::move(options)), idleTimeoutMs_(idleTimeoutMs) {
  std::signal(SIGPIPE, SIG_IGN);  // a client that goes away mid-record must not end the tests
  int fd = ListenOn(options_.address, options_.port);
  if (fd < 0) return;
  listener_ = fd;
  thread_ = std::thread(&SubmissionRelay::Serve, this);
}

SubmissionRelay::~SubmissionRelay() {
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
}

const std::string& SubmissionRelay::Plain() {
  if (thread_.joinable()) thread_.join();
  return plain_;
}

const std::vector<std::vector<std::string>>& SubmissionRelay::Deliveries() {
  if (thread_.joinable()) thread_.join();
  return deliveries_;
}

const std::string& SubmissionRelay::Secure() {
  if (thread_.joinable()) thread_.join();
  return secure_;
}

const std::string& SubmissionRelay::ServerName() {
  if (thread_.joinable()) thread_.join();
  return serverName_;
}

void SubmissionRelay::Serve() {
  pollfd waiting{listener_, POLLIN, 0};
  if (::poll(&waiting, 1, idleTimeoutMs_) <= 0) return;
  int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  timeval idle{idleTimeoutMs_ / 1000, (idleTimeoutMs_ % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &idle, sizeof idle);
  auto answer = [this](const std::string& name) {
    auto chosen = options_.answers.find(name);
    return chosen != options_.answers.end() ? chosen->second : kAccepting.at(name);
  };
  // Reads up to the handshake, then stops answering: the client meets a closed connection.
  auto handshakeOrClose = [&](Channel& channel) {
    if (!options_.answers.count("HANDSHAKE")) return channel.Handshake(options_.certificate);
    char hello[512];
    [[maybe_unused]] ssize_t ignored = ::recv(fd, hello, sizeof hello, 0);
    return false;
  };

  Channel channel(fd);
  bool serving = !options_.implicitTls || handshakeOrClose(channel);
  if (serving) serving = channel.Write(answer("GREETING"));
  std::string pending;
  bool inData = false;
  std::deque<std::string> continuation;  // the answers to the lines an AUTH exchange has still to come
  std::vector<std::string> recipients;  // accepted in the transaction going on
  while (serving) {
    std::size_t end = inData ? pending.find("\r\n.\r\n") : pending.find('\n');
    if (end == std::string::npos) {
      char buffer[16384];
      ssize_t got = channel.Read(buffer, sizeof buffer);
      if (got <= 0) break;
      (channel.Secure() ? secure_ : plain_).append(buffer, static_cast<std::size_t>(got));
      pending.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    std::string line = pending.substr(0, end + (inData ? 5 : 1));
    pending.erase(0, line.size());
    std::string verb = inData ? "." : Verb(line);
    if (verb == "EHLO" && (channel.Secure() || options_.implicitTls)) verb = "EHLO-TLS";
    std::string reply;
    if (!continuation.empty()) {
      reply = continuation.front();
      continuation.pop_front();
    } else if (line.rfind("AUTH LOGIN", 0) == 0) {
      continuation = {"334 UGFzc3dvcmQ6\r\n", answer("AUTH")};
      reply = "334 VXNlcm5hbWU6\r\n";
    } else if (line == "AUTH XOAUTH2\r\n" || line == "AUTH OAUTHBEARER\r\n") {
      if (auto error = options_.answers.find("AUTH-ERROR"); error != options_.answers.end()) {
        continuation.push_back(error->second);
      }
      continuation.push_back(answer("AUTH"));
      reply = "334 \r\n";
    } else if (verb == "RCPT") {
      std::string address = line.substr(line.find(':') + 1);
      address.erase(address.find_last_not_of("\r\n") + 1);
      address.erase(0, address.find_first_not_of(" <"));
      if (!address.empty() && address.back() == '>') address.pop_back();
      auto refusal = options_.refusedRecipients.find(address);
      if (refusal != options_.refusedRecipients.end()) {
        reply = refusal->second;
      } else if (options_.recipientCap > 0 && recipients.size() >= options_.recipientCap) {
        reply = "452 4.5.3 Too many recipients\r\n";
      } else {
        reply = answer(verb);
        if (reply.rfind("250", 0) == 0) recipients.push_back(address);
      }
    } else {
      reply = kAccepting.count(verb) ? answer(verb) : "500 5.5.2 Unknown command\r\n";
      if (verb == "MAIL") recipients.clear();
      if (verb == "." && reply.rfind("250", 0) == 0 && !recipients.empty()) deliveries_.push_back(recipients);
    }
    inData = false;
    if (reply == "<close>" || !channel.Write(reply)) break;
    if (verb == "STARTTLS" && reply.rfind("220", 0) == 0) serving = handshakeOrClose(channel);
    if (verb == "DATA" && reply.rfind("354", 0) == 0) {
      inData = true;
      pending.insert(0, "\r\n");  // the DATA line's end: an empty message ends at once
    }
    if (verb == "QUIT") break;
  }
  serverName_ = channel.ServerName();
  ::close(fd);
}
