// The stretches of the delivery after the connection is made.
#pragma once

#include "smtp/connection.h"
#include "smtp/submission.h"

/// HELO, accepted with 250. False after AbortDelivery.
bool SayHelo(Connection& connection);

/// MAIL FROM and RCPT TO for MailTo or for each line of the recipient file,
/// each accepted with 250. False after AbortDelivery.
bool SendEnvelope(Connection& connection);

/// DATA, the header lines, the body, the end of data and its 250, QUIT, and
/// the close. False after AbortDelivery.
bool TransferMessage(Connection& connection);

/// From the greeting to the close, over a connection that is already made:
/// HELO, or the submission steps when Settings ask for TLS or AUTH (STARTTLS
/// through startTls), then the envelope and the message.
bool DeliverMessage(Connection& connection, const TlsStarter& startTls = {});
