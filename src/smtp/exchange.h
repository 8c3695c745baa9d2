// The steps every command of the delivery is made of.
#pragma once

#include <string_view>

#include "smtp/connection.h"

/// The CommandBuffer holds one command or header line. 512 rather than 200
/// bytes, so that the longest goes out whole: the Received line with a
/// 255-character originator, or RCPT TO with a 254-character recipient.
constexpr std::size_t kCommandBufferCapacity = 512;
/// The LineBuffer holds one formatted log text. 512 rather than 255 bytes,
/// so that "Got hostbyname [%s]" with a 255-character name is logged whole.
constexpr std::size_t kLineBufferCapacity = 512;

/// Puts an already formatted text on the connection; false when not every
/// byte could be sent within the send bound.
bool SendCommand(Connection& connection, std::string_view text);

/// Reads one whole reply and logs it as "Received %s" (what arrived, for a
/// reply that did not come whole), and returns it.
Reply TakeReply(Connection& connection, Milliseconds bound);

/// Reads one whole reply and logs it as "Received %s". Returns only when its
/// code is the expected one; anything else (another code, a closed or silent
/// connection, an overlong reply) logs "Previous response was not expected!",
/// closes the connection and ends the run with status 1.
void ExpectReply(Connection& connection, const char* code, Milliseconds bound);

/// Logs "Previous response was not expected!" as a failure, closes the
/// connection and ends the run with status 1.
[[noreturn]] void EndUnexpected(Connection& connection);

/// Logs the message as a failure and closes the connection. Returns false,
/// for the delivery to hand back.
bool AbortDelivery(Connection& connection, std::string_view message);
