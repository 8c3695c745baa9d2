#include "smtp/send_mail.h"

#include "front/fixed_text.h"
#include "front/mail_settings.h"
#include "identity/identity.h"
#include "log/log.h"
#include "platform/socket.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"

bool SendMail(const ReplyBounds& bounds) {
  char line[kLineCapacity];
  LogMessage("Beginning Sockets Startup [WSAStartup]", false);
  platform::StartSockets();
  LogMessage("Socket Startup Done", false);

  platform::SocketHandle socket = platform::CreateStreamSocket();
  if (socket == platform::kNoSocket) {
    FormatText(line, sizeof line, "Invalid Socket\n-RyMail-LASTMSG, -%d-", platform::LastSocketError());
    LogMessage(line, true);
    return false;
  }
  LogMessage("Valid Socket Found", false);
  AppendHostSuffix();

  platform::HostEntry relay;
  if (!platform::ResolveHost(Settings.Gateway.c_str(), relay)) {
    FormatText(line, sizeof line, "Host %s is NULL", Settings.Gateway.c_str());
    LogMessage(line, false);
    platform::CloseSocket(socket);
    return false;
  }
  FormatText(line, sizeof line, "Got hostbyname [%s]", relay.officialName);
  LogMessage(line, false);

  std::uint16_t port = 0;
  if (!platform::LookupServicePort("smtp", "tcp", port)) {
    LogMessage("Couldn't locate smtp service", true);
    platform::CloseSocket(socket);
    return false;
  }
  LogMessage("Found smtp Service", false);

  if (!platform::ConnectSocket(socket, relay, port)) {
    FormatText(line, sizeof line, "Failed to connect to %s", Settings.Gateway.c_str());
    LogMessage(line, true);
    platform::ShutdownSocket(socket);
    platform::CloseSocket(socket);
    platform::CleanupSockets();
    return false;
  }
  FormatText(line, sizeof line, "Connection to %s established.", Settings.Gateway.c_str());
  LogMessage(line, false);

  Connection connection(SocketOps(socket), bounds);
  bool delivered = DeliverMessage(connection);
  connection.Close();
  if (delivered) platform::CleanupSockets();
  return delivered;
}
