// The delivery: one connection, one message.
#pragma once

#include "smtp/connection.h"
#include "smtp/session.h"

/// Sends the message that Settings describe through Settings.Gateway, waiting
/// on the relay within the bounds, and returns what happened: accepted only
/// when the relay answered 250 to the end of data. Every failure has logged
/// its text; the connection is closed and the secret wiped either way.
Delivery SendMail(const ReplyBounds& bounds = ReplyBounds());
