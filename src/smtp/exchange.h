// The steps every command of the delivery is made of.
#pragma once

#include <string>
#include <string_view>

#include "smtp/result.h"
#include "smtp/session.h"

/// The CommandBuffer holds one command or header line. 512 rather than 200
/// bytes, so that the longest goes out whole: the Received line with a
/// 255-character originator, or RCPT TO with a 254-character recipient.
constexpr std::size_t kCommandBufferCapacity = 512;
/// The LineBuffer holds one formatted log text. 512 rather than 255 bytes,
/// so that "Got hostbyname [%s]" with a 255-character name is logged whole.
constexpr std::size_t kLineBufferCapacity = 512;

/// Puts an already formatted text on the connection; false when not every
/// byte could be sent within the send bound.
bool SendCommand(Session& session, std::string_view text);

/// Reads one whole reply and logs it as "Received %s" (what arrived, for a
/// reply that did not come whole), cleaned of the secret, and returns it.
/// With tlsRecords, bytes that begin a TLS record end the read at once.
Reply TakeReply(Session& session, Milliseconds bound, bool tlsRecords = false);

/// Whether the run asks for anything of a submission relay (--port, --tls,
/// --user, --auth or their variables); the plain path keeps its texts.
bool SubmissionPath();

/// Reads one whole reply and logs it as "Received %s". Done when its code is
/// the expected one; anything else (another code, a closed or silent
/// connection, an overlong reply) logs "Previous response was not expected!",
/// closes the connection and returns the failure, classed by the reply.
StepResult ExpectReply(Session& session, const char* code, Milliseconds bound, Step step);

/// The failure of a step whose reply (already taken and logged) was not the
/// expected one: logs "Previous response was not expected!" (on the
/// submission path, for EHLO, STARTTLS, MAIL FROM, RCPT TO, DATA and the
/// message: "The relay refused STEP: " and the reply's last line) and
/// closes the connection.
StepResult Unexpected(Session& session, const Reply& reply, Step step);

/// The reply as one line for a failure text, cleaned of the secret: line
/// ends made blanks, the last one dropped; "no reply" when nothing came.
std::string ShownReply(const Session& session, const Reply& reply);

/// Whether a reply came whole with the code.
bool IsCode(const Reply& reply, std::string_view code);

/// Logs the message as a failure and closes the connection. Returns the
/// failure of the step, of the given class, for the delivery to hand back.
StepResult AbortDelivery(Session& session, Outcome outcome, Step step, std::string_view message);

/// The same for a reply that ends the step: its class and text go with it.
StepResult AbortDelivery(Session& session, const Reply& reply, Step step, std::string_view message);
