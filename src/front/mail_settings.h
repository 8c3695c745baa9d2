// The one record of everything a run needs, filled by the front end and read
// by the delivery.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/fixed_text.h"

constexpr std::size_t kFieldCapacity = 128;
constexpr std::size_t kOriginatorCapacity = 256;
constexpr std::size_t kSystemKeyNameCapacity = 16;
constexpr std::size_t kListCapacity = 4096;  // a list of addresses
constexpr std::size_t kPasswordCapacity = 16384;  // OAuth2 access tokens are JWTs of a few KB

/// A zero-terminated text of at most Capacity - 1 bytes.
template <std::size_t Capacity>
class TextField {
 public:
  static constexpr std::size_t kCapacity = Capacity;
  static constexpr std::size_t kMaxLength = Capacity - 1;

  const char* c_str() const { return text_; }
  std::string_view view() const { return std::string_view(text_, Length()); }
  std::size_t Length() const {
    std::size_t length = 0;
    while (length < kMaxLength && text_[length] != '\0') ++length;
    return length;
  }
  /// A field counts as set when it is not empty.
  bool IsSet() const { return text_[0] != '\0'; }

  /// Stores the value whole; false, leaving the field as it was, when it does not fit.
  bool Assign(std::string_view value) {
    if (value.size() > kMaxLength) return false;
    Store(value);
    return true;
  }
  /// Stores as much of the value as fits.
  void AssignTruncated(std::string_view value) {
    Store(value.substr(0, value.size() < kMaxLength ? value.size() : kMaxLength));
  }
  /// Overwrites every byte with zero, in a way the compiler cannot drop: for secrets.
  void Wipe() { WipeBytes(text_, Capacity); }

 private:
  void Store(std::string_view value) {
    for (std::size_t i = 0; i < value.size(); ++i) text_[i] = value[i];
    text_[value.size()] = '\0';
  }

  char text_[Capacity] = {};
};

using Field = TextField<kFieldCapacity>;
using ListField = TextField<kListCapacity>;

struct MailSettings {
  Field MailFrom;         // envelope sender, sent in MAIL FROM
  Field MailTo;           // the single envelope recipient
  Field MailToInputFile;  // recipient list file; replaces MailTo in the envelope
  Field From;             // From header text
  Field To;               // To header text
  Field ReplyTo;          // Reply-To header text, sent only when set
  Field Subject;          // Subject header text
  Field Gateway;          // relay host name or dotted address
  Field Helo;             // HELO argument
  Field InputFile;        // body file
  Field DebugFile;        // debug log file; empty for screen mode or no log
  bool DebugEnabled = false;
  Field MessageId;                                  // between the Message-ID brackets
  TextField<kOriginatorCapacity> Originator;        // owner and organisation
  TextField<kSystemKeyNameCapacity> SystemKeyName;  // registry key below Software\Microsoft

  // Submission relays; all empty for a plain run on the smtp port.
  Field Port;                                 // a port number or service name
  Field Tls;                                  // "none", "starttls" or "implicit"
  Field CaFile;                               // trust anchors instead of the system's store
  std::string CaFileContents;                 // its bytes, read before any network activity
  Field TlsVerify;                            // "on" or "off"
  Field User;                                 // the AUTH login name; set, it asks for AUTH
  Field Auth;                                 // "plain", "login", "xoauth2" or "oauthbearer"
  Field PasswordFile;                         // the password is its first line
  Field PasswordCommand;                      // the password is the first line it prints
  TextField<kPasswordCapacity> Password;      // or token; handed to the delivery, which wipes it

  // Reaching the relay; both empty for the defaults.
  Field Ip;              // "4", "6" or "any": which addresses of the Gateway are tried
  Field ConnectTimeout;  // seconds, 1-600, that each connection attempt may take

  // For scripts.
  Field ExitCodes;   // "simple" (0, 1, 2) or "sysexits"
  Field ResultFile;  // one line of JSON written at the end; "-" is standard output

  // Many recipients.
  ListField Cc;      // addresses for a Cc header and RCPT TO
  ListField Bcc;     // addresses for RCPT TO only
  Field Ehlo;        // "on": EHLO on a plain connection too; "off"
  Field OnRefused;   // "stop": a refused recipient ends the run; "continue"

  // Text.
  Field Charset;  // the character set the texts are in, declared with MIME headers
  Field DryRun;   // write the message here instead of sending it; "-" is standard output
};

/// The process-wide settings.
extern MailSettings Settings;

/// When the run started; every time text of the run is made from it.
extern platform::CalendarTime StartTime;
