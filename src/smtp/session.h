// One delivery's dialogue with the relay: the connection, what the relay
// offered in EHLO, the secret, and the facts a caller is told at the end.
// Everything is closed and wiped when the session ends, whichever way.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/connection.h"
#include "smtp/result.h"

/// What the relay's EHLO reply offers.
struct RelayOffer {
  bool startTls = false;
  bool auth = false;  // any AUTH mechanism
  bool plain = false;
  bool login = false;
  bool pipelining = false;
  bool eightBitMime = false;
  bool smtpUtf8 = false;
  bool xoauth2 = false;
  bool oauthBearer = false;
};

struct RefusedRecipient {
  std::string address;
  std::string reply;
};

/// What a delivery came to, for the driver and the result file.
struct Delivery {
  StepResult end;        // the failure, or on success the reply to the end of data
  std::string address;   // the address connected to; empty when none
  unsigned port = 0;     // 0 when not known
  std::string tls;       // protocol and cipher of the TLS session; empty without TLS
  std::string auth;      // the AUTH mechanism used; empty without AUTH
  std::string messageId; // the Message-ID sent, brackets included; empty before DATA
  unsigned long accepted = 0;
  std::vector<RefusedRecipient> refused;
  bool dryRun = false;   // written to Settings.DryRun, not sent

  bool Accepted() const { return end.Ok(); }
  /// Accepted, or partial: the message is with some recipients.
  bool Sent() const { return end.Ok() || end.outcome == Outcome::kPartial; }
};

class Session {
 public:
  /// Takes the secret out of Settings.Password, which is wiped.
  explicit Session(ReplyBounds bounds);
  /// The same, over a connection that is already made (tests).
  Session(ConnectionOps ops, ReplyBounds bounds);
  /// Closes the connection and wipes the secret.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const ReplyBounds& Bounds() const { return bounds_; }
  /// The connection, once Open() made it; the session must be open.
  Connection& connection() { return *connection_; }
  bool IsOpen() const { return connection_ != nullptr; }
  void Open(ConnectionOps ops);
  /// Closes the connection; later calls do nothing.
  void Close();

  /// The secret (password or token) until it is forgotten.
  std::string_view Secret() const { return std::string_view(secret_.get(), secretLength_); }
  /// Wipes the secret; AUTH calls it once done.
  void ForgetSecret();
  /// Relay text as it may be shown: while the secret is held, each
  /// occurrence of it (4 bytes or longer) and of the Base64 forms AUTH sent
  /// it in is replaced by "[secret]".
  std::string Clean(std::string_view relayText) const;
  /// Adds a text AUTH sends, whose Base64 form the relay might echo; it is
  /// wiped with the secret.
  void AddSecretForm(std::string_view form);

  RelayOffer offer;            // what the last EHLO reply offered; nothing after HELO
  Delivery report;             // filled in as the dialogue goes on
  bool endOfDataSent = false;  // in the transaction going on: its outcome is unknown once lost
  bool eightBitBody = false;   // a declared character set goes as 8bit (BODY=8BITMIME), not quoted-printable

 private:
  ReplyBounds bounds_;
  std::unique_ptr<Connection> connection_;
  std::unique_ptr<char[]> secret_;
  std::size_t secretLength_ = 0;
  std::vector<std::string> forms_;  // the secret's forms to hide, wiped at the end
};
