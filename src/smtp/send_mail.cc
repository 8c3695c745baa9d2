#include "smtp/send_mail.h"

#include "platform/fixed_text.h"
#include "front/mail_settings.h"
#include "identity/identity.h"
#include "log/log.h"
#include "platform/socket.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"

// Every log text below is a short text and one field or host name: it always fits.
static_assert(kLineBufferCapacity > sizeof "Connection to  established." + kFieldCapacity);
static_assert(kLineBufferCapacity > sizeof "Got hostbyname []" + platform::kHostNameCapacity);

bool SendMail(const ReplyBounds& bounds) {
  char LineBuffer[kLineBufferCapacity];
  LogMessage("Beginning Sockets Startup [WSAStartup]", false);
  platform::StartSockets();
  LogMessage("Socket Startup Done", false);

  platform::SocketHandle socket = platform::CreateStreamSocket();
  if (socket == platform::kNoSocket) {
    (void)FormatText(LineBuffer, sizeof LineBuffer, "Invalid Socket\n-RyMail-LASTMSG, -%d-", platform::LastSocketError());
    LogMessage(LineBuffer, true);
    return false;
  }
  LogMessage("Valid Socket Found", false);
  AppendHostSuffix();

  platform::HostEntry relay;
  if (!platform::ResolveHost(Settings.Gateway.c_str(), relay)) {
    (void)FormatText(LineBuffer, sizeof LineBuffer, "Host %s is NULL", Settings.Gateway.c_str());
    LogMessage(LineBuffer, false);
    platform::CloseSocket(socket);
    return false;
  }
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Got hostbyname [%s]", relay.officialName);
  LogMessage(LineBuffer, false);

  std::uint16_t port = 0;
  if (!platform::LookupServicePort("smtp", "tcp", port)) {
    LogMessage("Couldn't locate smtp service", true);
    platform::CloseSocket(socket);
    return false;
  }
  LogMessage("Found smtp Service", false);

  if (!platform::ConnectSocket(socket, relay, port)) {
    (void)FormatText(LineBuffer, sizeof LineBuffer, "Failed to connect to %s", Settings.Gateway.c_str());
    LogMessage(LineBuffer, true);
    platform::ShutdownSocket(socket);
    platform::CloseSocket(socket);
    platform::CleanupSockets();
    return false;
  }
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Connection to %s established.", Settings.Gateway.c_str());
  LogMessage(LineBuffer, false);

  Connection connection(SocketOps(socket), bounds);
  bool delivered = DeliverMessage(connection);
  connection.Close();
  if (delivered) platform::CleanupSockets();
  return delivered;
}
