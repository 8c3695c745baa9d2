#include "smtp/send_mail.h"

#include "platform/fixed_text.h"
#include "front/mail_settings.h"
#include "identity/identity.h"
#include "log/log.h"
#include "platform/socket.h"
#include "platform/tls.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"

// Every log text below is a short text and one field or host name: it always fits.
static_assert(kLineBufferCapacity > sizeof "Connection to  established." + kFieldCapacity);
static_assert(kLineBufferCapacity > sizeof "Got hostbyname []" + platform::kHostNameCapacity);

namespace {

constexpr int kTlsEndMs = 2000;  // for the close_notify at the end

// The relay's port: Settings.Port as a number or service name, or the "smtp"
// service ("submissions" for TLS from the first byte). False after logging.
bool FindPort(std::uint16_t& port) {
  std::string_view chosen = Settings.Port.view();
  char LineBuffer[kLineBufferCapacity];
  static_assert(kLineBufferCapacity > sizeof "Couldn't locate  service" + kFieldCapacity);
  if (!chosen.empty() && chosen.find_first_not_of("0123456789") == std::string_view::npos) {
    unsigned number = 0;
    for (char digit : chosen) number = number * 10 + static_cast<unsigned>(digit - '0');
    port = platform::PortInNetworkOrder(static_cast<std::uint16_t>(number));
    (void)FormatText(LineBuffer, sizeof LineBuffer, "Using port %u", number);
    LogMessage(LineBuffer, false);
    return true;
  }
  bool implicitDefault = chosen.empty() && Settings.Tls.view() == "implicit";
  const char* service = !chosen.empty() ? Settings.Port.c_str() : implicitDefault ? "submissions" : "smtp";
  if (!platform::LookupServicePort(service, "tcp", port)) {
    // Not every services table knows 465 (Windows' does not): its number stands in.
    if (implicitDefault) {
      port = platform::PortInNetworkOrder(465);
      LogMessage("Using port 465", false);
      return true;
    }
    (void)FormatText(LineBuffer, sizeof LineBuffer, "Couldn't locate %s service", service);
    LogMessage(LineBuffer, true);
    return false;
  }
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Found %s Service", service);
  LogMessage(LineBuffer, false);
  return true;
}

// Connection operations through a TLS session on the socket.
ConnectionOps TlsOps(platform::TlsSession* session, platform::SocketHandle socket) {
  ConnectionOps ops;
  ops.receive = [session](char* buffer, std::size_t capacity, int timeoutMs) {
    return platform::TlsReceive(session, buffer, capacity, timeoutMs);
  };
  ops.send = [session](const char* data, std::size_t length, int timeoutMs) {
    return platform::TlsSend(session, data, length, timeoutMs);
  };
  ops.close = [session, socket] {
    platform::EndTls(session, kTlsEndMs);
    platform::ShutdownSocket(socket);
    platform::CloseSocket(socket);
  };
  return ops;
}

std::string StartTlsOn(platform::SocketHandle socket, Connection& connection) {
  const MailSettings& s = Settings;
  platform::TlsOptions options;
  options.serverName = s.Gateway.c_str();
  options.verify = s.TlsVerify.view() != "off";
  options.caFile = s.CaFile.c_str();
  auto bound = std::chrono::duration_cast<Milliseconds>(connection.Bounds().command).count();
  platform::TlsStart start = platform::StartTls(socket, options, static_cast<int>(bound));
  std::string gateway(s.Gateway.view());
  switch (start.failure) {
    case platform::TlsFailure::kNone:
      break;
    case platform::TlsFailure::kUntrusted:
      return "The certificate of " + gateway + " is not trusted: " + start.detail;
    case platform::TlsFailure::kWrongName:
      return "The certificate does not name " + gateway + ": " + start.detail;
    case platform::TlsFailure::kHandshake:
    case platform::TlsFailure::kTimedOut:
      return "The TLS handshake with " + gateway + " failed: " + start.detail;
  }
  LogMessage("TLS OK: " + start.detail, false);
  LogMessage(options.verify ? "Certificate of " + gateway + " verified"
                            : "Certificate of " + gateway + " not verified (TlsVerify off)",
             false);
  connection.SwitchTo(TlsOps(start.session, socket));
  return {};
}

}  // namespace

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
  if (!FindPort(port)) {
    platform::CloseSocket(socket);
    return false;
  }

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
  TlsStarter startTls = [socket](Connection& c) { return StartTlsOn(socket, c); };
  if (Settings.Tls.view() == "implicit") {
    if (std::string failure = startTls(connection); !failure.empty()) {
      Settings.Password.Wipe();
      return AbortDelivery(connection, failure);
    }
  }
  bool delivered = DeliverMessage(connection, startTls);
  Settings.Password.Wipe();
  connection.Close();
  if (delivered) platform::CleanupSockets();
  return delivered;
}
