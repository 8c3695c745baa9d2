// What a submission relay needs before the envelope: EHLO, STARTTLS and
// the handshake, EHLO again, and AUTH.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "smtp/connection.h"

/// Whether Settings ask for TLS or AUTH, and so for EHLO instead of HELO.
bool SubmissionAsked();

/// What the relay's EHLO reply offers.
struct RelayOffer {
  bool startTls = false;
  bool auth = false;  // any AUTH mechanism
  bool plain = false;
  bool login = false;
};

/// Reads the keywords of a 250 EHLO reply (every line after the first),
/// without regard to case; both "AUTH PLAIN" and the older "AUTH=PLAIN".
RelayOffer ParseEhloReply(std::string_view reply);

/// Base64 (RFC 4648, with padding) of the bytes.
std::string Base64(std::string_view bytes);
/// The same, appended to encoded.
void AppendBase64(std::string& encoded, std::string_view bytes);

/// Starts TLS on the connection's socket, logs the session, and switches the
/// connection to it. Returns the failure text (TLS is then not in use), or
/// an empty text.
using TlsStarter = std::function<std::string(Connection& connection)>;

/// After the greeting: EHLO with Settings.Helo; with Tls "starttls",
/// STARTTLS, the handshake through startTls and EHLO again; with a User,
/// AUTH PLAIN or LOGIN with the mechanism the relay offers. The password is
/// wiped afterwards, whatever happened. False after AbortDelivery, naming
/// the cause; an EHLO that is refused ends the run as any unexpected reply.
bool Introduce(Connection& connection, const TlsStarter& startTls);
