#include "smtp/send_mail.h"

#include "platform/fixed_text.h"
#include "front/mail_settings.h"
#include "identity/identity.h"
#include "log/log.h"
#include "platform/console.h"
#include "platform/file.h"
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
// service ("submissions" for TLS from the first byte). False after logging
// the failure, which is also put in failure.
bool FindPort(std::uint16_t& port, std::string& failure) {
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
    failure = LineBuffer;
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

// The relay's name as the resolver and the certificate check take it: an
// IPv6 address loses its brackets ("[2001:db8::25]").
std::string RelayName(std::string_view gateway) {
  if (gateway.size() > 2 && gateway.front() == '[' && gateway.back() == ']' &&
      gateway.find(':') != std::string_view::npos) {
    gateway = gateway.substr(1, gateway.size() - 2);
  }
  return std::string(gateway);
}

platform::IpFamily FamilyOf(std::string_view ip) {
  if (ip == "6") return platform::IpFamily::kIpv6;
  return ip == "any" ? platform::IpFamily::kAny : platform::IpFamily::kIpv4;
}

StepResult StartTlsOn(platform::SocketHandle socket, const std::string& relayName, Session& session, Step step) {
  const MailSettings& s = Settings;
  platform::TlsOptions options;
  options.serverName = relayName.c_str();
  options.verify = s.TlsVerify.view() != "off";
  options.caPem = s.CaFileContents;
  auto bound = std::chrono::duration_cast<Milliseconds>(session.Bounds().command).count();
  platform::TlsStart start = platform::StartTls(socket, options, static_cast<int>(bound));
  std::string gateway(s.Gateway.view());
  std::string failure;
  Outcome outcome = Outcome::kRefused;
  switch (start.failure) {
    case platform::TlsFailure::kNone:
      break;
    case platform::TlsFailure::kUntrusted:
      failure = "The certificate of " + gateway + " is not trusted: " + start.detail;
      break;
    case platform::TlsFailure::kWrongName:
      failure = "The certificate does not name " + gateway + ": " + start.detail;
      break;
    case platform::TlsFailure::kTimedOut:
    case platform::TlsFailure::kUnavailable:
    case platform::TlsFailure::kHandshake:
      failure = "The TLS handshake with " + gateway + " failed: " + start.detail;
      if (start.failure == platform::TlsFailure::kTimedOut) outcome = Outcome::kTemporary;
      // The system lacks its TLS library: neither a retry nor another relay can help.
      if (start.failure == platform::TlsFailure::kUnavailable) outcome = Outcome::kSystem;
      break;
  }
  if (!failure.empty()) {
    StepResult result = AbortDelivery(session, outcome, step, failure);
    result.detail = start.detail;
    return result;
  }
  LogMessage("TLS OK: " + start.detail, false);
  LogMessage(options.verify ? "Certificate of " + gateway + " verified"
                            : "Certificate of " + gateway + " not verified (TlsVerify off)",
             false);
  session.report.tls = start.detail;
  session.connection().SwitchTo(TlsOps(start.session, socket));
  return StepDone();
}

// Everything up to the close: resolve, connect and the dialogue.
StepResult Deliver(Session& session) {
  char LineBuffer[kLineBufferCapacity];
  LogMessage("Beginning Sockets Startup [WSAStartup]", false);
  platform::StartSockets();
  LogMessage("Socket Startup Done", false);

  platform::SocketHandle socket = platform::CreateStreamSocket();
  if (socket == platform::kNoSocket) {
    (void)FormatText(LineBuffer, sizeof LineBuffer, "Invalid Socket\n-RyMail-LASTMSG, -%d-",
                     platform::LastSocketError());
    return AbortDelivery(session, Outcome::kSystem, Step::kConnect, LineBuffer);
  }
  LogMessage("Valid Socket Found", false);
  AppendHostSuffix();

  std::string relayName = RelayName(Settings.Gateway.view());
  platform::RelayHost relay;
  std::string why;
  platform::ResolveStatus resolved =
      platform::ResolveRelay(relayName.c_str(), FamilyOf(Settings.Ip.view()), relay, why);
  if (resolved != platform::ResolveStatus::kFound) {
    (void)FormatText(LineBuffer, sizeof LineBuffer, "Host %s is NULL", Settings.Gateway.c_str());
    LogMessage(LineBuffer, false);
    platform::CloseSocket(socket);
    StepResult result;
    // Only "try again" is worth a retry; a resolver that cannot recover is as good as no name.
    result.outcome = resolved == platform::ResolveStatus::kTryAgain ? Outcome::kTemporary : Outcome::kNoHost;
    result.step = Step::kResolve;
    result.detail = why;
    return result;
  }
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Got hostbyname [%s]", relay.canonicalName);
  LogMessage(LineBuffer, false);

  std::uint16_t port = 0;
  if (!FindPort(port, why)) {
    platform::CloseSocket(socket);
    StepResult result;
    result.outcome = Outcome::kInternal;
    result.step = Step::kConnect;
    result.failure = why;
    return result;
  }
  session.report.port = platform::PortInHostOrder(port);
  if (Settings.Port.IsSet() && session.report.port == kImplicitTlsPort && Settings.Tls.view() != "implicit") {
    ConsolePrint("-RyMail-Info, Port 465 expects TLS from the first byte: add --tls implicit.\n");
  }

  platform::ConnectTiming timing;
  timing.attemptMs = static_cast<int>(session.Bounds().connect.count());
  platform::RelayConnection connected = platform::ConnectToRelay(
      relay, port, socket, timing, [](const std::string& record) { LogMessage(record, false); });
  if (connected.socket == platform::kNoSocket) {
    (void)FormatText(LineBuffer, sizeof LineBuffer, "Failed to connect to %s", Settings.Gateway.c_str());
    LogMessage(LineBuffer, true);
    platform::CleanupSockets();
    StepResult result;
    result.outcome = Outcome::kTemporary;
    result.step = Step::kConnect;
    result.failure = LineBuffer;
    result.detail = connected.failures;
    return result;
  }
  socket = connected.socket;
  session.report.address = connected.address;
  (void)FormatText(LineBuffer, sizeof LineBuffer, "Connection to %s established.", Settings.Gateway.c_str());
  LogMessage(LineBuffer, false);

  session.Open(SocketOps(socket));
  TlsStarter startTls = [socket, relayName](Session& s, Step step) { return StartTlsOn(socket, relayName, s, step); };
  if (Settings.Tls.view() == "implicit") {
    if (StepResult result = startTls(session, Step::kTls); !result.Ok()) return result;
  }
  StepResult result = DeliverMessage(session, startTls);
  session.Close();
  if (result.Ok()) platform::CleanupSockets();
  return result;
}

// No relay: the message goes to Settings.DryRun ("-": standard output,
// after the run's own texts), the envelope to the log.
StepResult DryRun(Session& session) {
  // The host name lookup needs sockets started on Windows, as a delivery starts them.
  platform::StartSockets();
  AppendHostSuffix();
  if (StepResult failure = LogEnvelope(session); !failure.Ok()) return failure;
  std::string path(Settings.DryRun.view());
  std::string done = "Dry run: the message was written to " + path + ".";
  bool toOutput = path == "-";
  platform::FileHandle file = toOutput ? platform::kNoFile : platform::CreateOrTruncate(path.c_str());
  if (!toOutput && file == platform::kNoFile) {
    return AbortDelivery(session, Outcome::kOutput, Step::kMessage, "Failed to create the dry run file [" + path + "].");
  }
  if (toOutput) ConsolePrint("-RyMail-Info, " + done + "\n");
  bool written = true;
  ConnectionOps ops;
  ops.send = [file, toOutput, &written](const char* data, std::size_t length, int) {
    if (toOutput) {
      ConsoleWrite(std::string_view(data, length));
    } else if (!platform::WriteFile(file, data, length)) {
      written = false;
      return platform::IoResult{platform::IoStatus::kFailed, 0};
    }
    return platform::IoResult{platform::IoStatus::kDone, length};
  };
  ops.receive = [](char*, std::size_t, int) { return platform::IoResult{platform::IoStatus::kClosed, 0}; };
  ops.close = [file] {
    if (file != platform::kNoFile) platform::CloseFile(file);
  };
  session.Open(std::move(ops));
  StepResult result = PutMessage(session);
  session.Close();
  if (!result.Ok()) return result;
  if (!toOutput) ConsolePrint("-RyMail-Info, " + done + "\n");
  if (Settings.DebugFile.IsSet()) LogMessage(done, false);
  result.step = Step::kEndOfData;
  return result;
}

}  // namespace

Delivery SendMail(const ReplyBounds& bounds) {
  Session session(bounds);
  session.report.dryRun = Settings.DryRun.IsSet();
  session.report.end = session.report.dryRun ? DryRun(session) : Deliver(session);
  return std::move(session.report);
}
