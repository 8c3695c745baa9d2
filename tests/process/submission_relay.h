// A submission relay on loopback for the process tests: STARTTLS or TLS
// from the first byte, AUTH, and answers chosen by command name. It serves
// one connection, records what it read before and after TLS, and is bounded
// by an idle timeout.
#pragma once

#include <map>
#include <string>
#include <thread>
#include <vector>

/// Throwaway certificates, made once per test process: PEM files that each
/// hold a server's key and certificate.
struct TestCertificates {
  std::string caFile;     // the CA the client is given
  std::string caDirectory;  // the same CA under its hashed name ("1a2b3c4d.0"), as a system store keeps it
  std::string good;       // localhost and 127.0.0.1, from that CA
  std::string withIpv6;   // the same and ::1
  std::string otherName;  // other.example.com only
  std::string expired;    // localhost, expired yesterday
  std::string unknownCa;  // localhost, from a CA the client is not given
  std::string commonNameOnly;  // localhost in the subject's CN only, no subjectAltName
};
const TestCertificates& Certificates();

class SubmissionRelay {
 public:
  struct Options {
    int port = 587;
    std::string address = "127.0.0.1";  // or another loopback address ("::1")
    bool implicitTls = false;
    std::string certificate = Certificates().good;
    // Answers by command name ("EHLO", "STARTTLS", "AUTH", "MAIL", "RCPT",
    // "DATA", "." for the end of data, "QUIT"), in place of the accepting
    // ones. "EHLO" answers before TLS, "EHLO-TLS" after it. An answer of
    // "<close>" closes the connection instead. "HANDSHAKE" (any answer)
    // closes it during the handshake, once the client's hello is read.
    // AUTH XOAUTH2 and OAUTHBEARER get an empty 334 and "AUTH" answers the
    // token, unless "AUTH-ERROR" (the error report) does, and "AUTH" the
    // client's next line.
    std::map<std::string, std::string> answers;
    // Recipients: at most this many accepted per transaction, "452 4.5.3"
    // beyond (0: no cap); and refusals by address (as in RCPT TO, without
    // its brackets).
    std::size_t recipientCap = 0;
    std::map<std::string, std::string> refusedRecipients;
  };

  explicit SubmissionRelay(Options options, int idleTimeoutMs = 20000);
  ~SubmissionRelay();
  SubmissionRelay(const SubmissionRelay&) = delete;
  SubmissionRelay& operator=(const SubmissionRelay&) = delete;

  bool Listening() const { return listener_ >= 0; }
  /// Waits for the connection to end; the bytes read in clear, and through TLS.
  const std::string& Plain();
  const std::string& Secure();
  /// Waits for the connection to end; the accepted recipients of each
  /// message the relay took, in order.
  const std::vector<std::vector<std::string>>& Deliveries();
  /// The name the client sent in the handshake (SNI); empty when none came.
  const std::string& ServerName();

 private:
  void Serve();

  Options options_;
  int idleTimeoutMs_;
  int listener_ = -1;
  std::string plain_;
  std::string secure_;
  std::vector<std::vector<std::string>> deliveries_;
  std::string serverName_;
  std::thread thread_;
};
