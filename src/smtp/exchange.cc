#include "smtp/exchange.h"

#include <string>

#include "platform/exit_status.h"
#include "front/mail_settings.h"
#include "log/log.h"

bool SendCommand(Connection& connection, std::string_view text) {
  return connection.Send(text, connection.Bounds().send);
}

Reply TakeReply(Connection& connection, Milliseconds bound) {
  Reply reply = connection.ReadReply(bound);
  std::string logged = "Received ";
  logged.append(reply.text);
  LogMessage(logged, false);
  return reply;
}

void ExpectReply(Connection& connection, const char* code, Milliseconds bound) {
  Reply reply = TakeReply(connection, bound);
  if (reply.status == ReplyStatus::kComplete && ReplyCode(reply.text) == code) return;
  EndUnexpected(connection);
}

void EndUnexpected(Connection& connection) {
  Settings.Password.Wipe();
  LogMessage("Previous response was not expected!", true);
  connection.Close();
  EndRun(kExitFailure);
}

bool AbortDelivery(Connection& connection, std::string_view message) {
  LogMessage(message, true);
  connection.Close();
  return false;
}
