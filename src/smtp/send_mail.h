// The delivery: one connection, one message.
#pragma once

/// Sends the message that Settings describe through Settings.Gateway. True
/// only when the relay accepted the whole message. An unexpected reply ends
/// the run with status 1 instead of returning.
bool SendMail();
