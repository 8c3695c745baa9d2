// What a submission relay needs before the envelope: EHLO, STARTTLS and
// the handshake, EHLO again, and AUTH.
#pragma once

#include <functional>
#include <string_view>

#include "smtp/auth.h"
#include "smtp/result.h"
#include "smtp/session.h"

/// Whether Settings ask for TLS or AUTH, and so for EHLO instead of HELO.
bool SubmissionAsked();

/// Reads the keywords of a 250 EHLO reply (every line after the first),
/// without regard to case; both "AUTH PLAIN" and the older "AUTH=PLAIN".
RelayOffer ParseEhloReply(std::string_view reply);

/// Starts TLS on the session's socket, logs the session, records it in the
/// report, and switches the connection to it. Fails, in the step given, with
/// the reason; the connection is then closed.
using TlsStarter = std::function<StepResult(Session& session, Step step)>;

/// The port on which relays speak TLS from the first byte (submissions).
constexpr unsigned kImplicitTlsPort = 465;

/// The relay's 220 greeting. On the submission path bytes that begin a TLS
/// record end the run at once (configuration), and with --port 465 but
/// without --tls implicit the wait is the short tlsGreeting bound.
StepResult AwaitGreeting(Session& session);

/// EHLO on a plain connection, for what the relay offers; a 5xx reply falls
/// back to HELO (and so to lock-step).
StepResult SayEhloOrHelo(Session& session);

/// After the greeting: EHLO with Settings.Helo; with Tls "starttls",
/// STARTTLS, the handshake through startTls and EHLO again; with a User,
/// AUTH. The secret is forgotten afterwards, whatever happened. An EHLO that
/// is refused fails as any unexpected reply.
StepResult Introduce(Session& session, const TlsStarter& startTls);
