// The delivery: one connection, one message.
#pragma once

#include "smtp/connection.h"

/// Sends the message that Settings describe through Settings.Gateway, waiting
/// on the relay within the bounds. True only when the relay accepted the
/// whole message. An unexpected reply ends the run with status 1 instead of
/// returning.
bool SendMail(const ReplyBounds& bounds = ReplyBounds());
