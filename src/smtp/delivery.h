// The stretches of the delivery after the connection is made. Each returns
// what happened; a failure has logged its text and closed the connection.
#pragma once

#include "smtp/result.h"
#include "smtp/session.h"
#include "smtp/submission.h"

/// HELO, accepted with 250.
StepResult SayHelo(Session& session);

/// Every mail transaction of the message: MAIL FROM, RCPT TO for MailTo or
/// each line of the recipient file, then Cc and Bcc; DATA, the message and
/// its 250; then QUIT and the close. Pipelined when the relay offers it
/// after EHLO. With OnRefused "continue" a refused recipient is recorded and
/// the others go on, and recipients over the relay's cap (452) follow in
/// further transactions; the result is then "partial" when some were
/// refused. Counts and records the recipients in the report.
StepResult SendTransactions(Session& session);

/// Logs MAIL FROM and every RCPT TO as they would be sent, for a dry run.
/// Fails when the recipient file cannot be read.
StepResult LogEnvelope(Session& session);

/// After a 354: the header lines, the body and the end of data, and the
/// relay's reply to it (the result holds it on success).
StepResult SendContent(Session& session);

/// The header lines, the body and the end of data, without a reply.
StepResult PutMessage(Session& session);

/// Whether the body can go as 8-bit text (8BITMIME): a regular file (it is
/// read once to tell, and again to send) with no line over 998 bytes and
/// no zero byte or lone CR.
bool BodyFitsEightBit();

/// After the relay took the message: QUIT, its reply awaited briefly, and
/// the close.
void SayGoodbye(Session& session);

/// From the greeting to the close, over a connection that is already made:
/// HELO (or EHLO, with Ehlo "on"), or the submission steps when Settings ask
/// for TLS or AUTH (STARTTLS through startTls), then the transactions.
StepResult DeliverMessage(Session& session, const TlsStarter& startTls = {});
