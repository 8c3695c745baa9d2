// The stretches of the delivery after the connection is made. Each returns
// what happened; a failure has logged its text and closed the connection.
#pragma once

#include "smtp/result.h"
#include "smtp/session.h"
#include "smtp/submission.h"

/// HELO, accepted with 250.
StepResult SayHelo(Session& session);

/// MAIL FROM and RCPT TO for MailTo or for each line of the recipient file,
/// each accepted with 250; counts and records the recipients in the report.
StepResult SendEnvelope(Session& session);

/// DATA, the header lines, the body, the end of data and its 250, QUIT, and
/// the close. On success the result holds the reply to the end of data.
StepResult TransferMessage(Session& session);

/// From the greeting to the close, over a connection that is already made:
/// HELO, or the submission steps when Settings ask for TLS or AUTH (STARTTLS
/// through startTls), then the envelope and the message.
StepResult DeliverMessage(Session& session, const TlsStarter& startTls = {});
