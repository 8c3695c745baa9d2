// The steps every command of the delivery is made of.
#pragma once

#include <string_view>

#include "smtp/connection.h"

/// Room for the longest command or header line: the Received line with a
/// 255-character originator, or RCPT TO with a 254-character recipient.
constexpr std::size_t kCommandCapacity = 512;
/// Room for the longest formatted log text ("Got hostbyname [%s]" and kin).
constexpr std::size_t kLineCapacity = 512;

/// Puts an already formatted text on the connection; false when not every
/// byte could be sent within the send bound.
bool SendCommand(Connection& connection, std::string_view text);

/// Reads one whole reply and logs it as "Received %s". Returns only when its
/// code is the expected one; anything else (another code, a closed or silent
/// connection, an overlong reply) logs "Previous response was not expected!",
/// closes the connection and ends the run with status 1.
void ExpectReply(Connection& connection, const char* code, Milliseconds bound);

/// Logs the message as a failure and closes the connection. Returns false,
/// for the delivery to hand back.
bool AbortDelivery(Connection& connection, std::string_view message);
