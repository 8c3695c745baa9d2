// Submission relays as the built program meets them: STARTTLS, TLS from the
// first byte, certificate checks and AUTH, with hostile relays and secrets
// that must never show.
#include <regex>
#include <sys/stat.h>

#include "process/process_fixture.h"
#include "process/submission_relay.h"
#include "smtp/submission.h"

namespace {

constexpr char kPassword[] = "s3cret pass:word";
constexpr char kToken[] = "ya29.a0Token-for_alice.Example0123456789";  // nothing a shell would change

// What the bearer mechanisms send, before Base64.
std::string Xoauth2(const std::string& token) { return "user=alice\001auth=Bearer " + token + "\001\001"; }
std::string OauthBearer(const std::string& token, int port) {
  return "n,a=alice,\001host=localhost\001port=" + std::to_string(port) + "\001auth=Bearer " + token + "\001\001";
}

// Everything after the envelope, as the plain tests see it.
std::string MessageAfterTheEnvelope(const std::string& receivedLine) {
  return "DATA\r\n" + receivedLine +
         "Message-ID: <ID>\r\nDate: <DATE>\r\n"
         "X-Mailer: ryMail-V1.0 for DOS available at https://rymail.example.org/\r\n"
         "From: sender@example.com\r\nTo: rcpt@example.com\r\nSubject: None\r\n\r\n"
         "Hello,\r\nthis is the body.\r\n\r\n.\r\nQUIT\r\n";
}

class Submission : public ProcessTest {
 protected:
  // A delivery through the relay on localhost with TLS in the given mode, AUTH as alice.
  std::vector<std::string> TlsArguments(const std::string& mode, int port) const {
    std::vector<std::string> arguments = MailArguments();
    arguments.insert(arguments.end(), {"--tls", mode, "--port", std::to_string(port), "--ca-file",
                                       Certificates().caFile, "--user", "alice", "-d", log_});
    return arguments;
  }
  static std::vector<std::string> WithPassword(std::vector<std::string> extra = {}) {
    extra.push_back(std::string("ryPassword=") + kPassword);
    return Environment(extra);
  }
  // The debug file with the start time and the TLS session masked.
  std::string Log() const {
    static const std::regex session("TLS OK: [^\r]+");
    return std::regex_replace(MaskVolatile(ReadWholeFile(log_)), session, "TLS OK: <SESSION>");
  }
  // The password and the token, and the forms AUTH sends them in, appear
  // nowhere the user or a log can see.
  void ExpectNoSecret(const ProgramRun& run, const std::string& token = kToken) const {
    ExpectNoSecretIn(run.output, token);
    ExpectNoSecretIn(ReadWholeFile(log_), token);
  }
  static void ExpectNoSecretIn(const std::string& text, const std::string& token = kToken) {
    for (const std::string& secret :
         {std::string(kPassword), Base64(kPassword), Base64(std::string("\0alice\0", 7) + kPassword), token,
          Base64(token), Base64(Xoauth2(token)), Base64(OauthBearer(token, 587))}) {
      EXPECT_EQ(text.find(secret), std::string::npos) << secret.substr(0, 100);
    }
  }
  // A command that prints the file, in the shell RyMail runs it with.
  static std::string PrintFile(const std::string& path) { return RunsUnderWine() ? "type Z:" + path : "cat " + path; }

  std::string log_ = dir_.path() + "/debug.log";
};

TEST_F(Submission, StartTlsThenAuthPlainThenTheMessageAsBefore) {
  SubmissionRelay relay({});
  ASSERT_TRUE(relay.Listening());
  ProgramRun run = RunProgram(TlsArguments("starttls", 587), WithPassword());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "-RyMail-Info, Initializing Debug File [" + log_ + "]\r\n" + kSentLine);
  EXPECT_EQ(relay.Plain(), "EHLO client.example.com\r\nSTARTTLS\r\n");
  EXPECT_EQ(MaskVolatile(relay.Secure()),
            "EHLO client.example.com\r\nAUTH PLAIN " + Base64(std::string("\0alice\0", 7) + kPassword) +
                "\r\nMAIL FROM: sender@example.com\r\nRCPT TO: rcpt@example.com\r\n" + MessageAfterTheEnvelope(ReceivedLine()));
  EXPECT_EQ(Log(),
            "Initiated RyMail at <TIME>\r\n\r\n"
            "-RyMail-Info, Beginning Sockets Startup [WSAStartup]\r\n"
            "-RyMail-Info, Socket Startup Done\r\n"
            "-RyMail-Info, Valid Socket Found\r\n"
            "-RyMail-Info, Got hostbyname [localhost]\r\n"
            "-RyMail-Info, Using port 587\r\n"
            "-RyMail-Info, Connection to localhost established.\r\n"
            "-RyMail-Info, Received 220 relay.example.com ESMTP ready\r\r\n"
            "-RyMail-Info, Sending EHLO client.example.com\r\r\n"
            "-RyMail-Info, EHLO was OK.\r\n"
            "-RyMail-Info, Received 250-relay.example.com\r\r\n250-PIPELINING\r\r\n250 STARTTLS\r\r\n"
            "-RyMail-Info, Sending STARTTLS\r\n"
            "-RyMail-Info, Received 220 2.0.0 Ready to start TLS\r\r\n"
            "-RyMail-Info, TLS OK: <SESSION>\r\n"
            "-RyMail-Info, Certificate of localhost verified\r\n"
            "-RyMail-Info, Sending EHLO client.example.com\r\r\n"
            "-RyMail-Info, EHLO was OK.\r\n"
            "-RyMail-Info, Received 250-relay.example.com\r\r\n250-AUTH PLAIN LOGIN\r\r\n250 8BITMIME\r\r\n"
            "-RyMail-Info, Sending AUTH PLAIN\r\n"
            "-RyMail-Info, Received 235 2.7.0 Authentication successful\r\r\n"
            "-RyMail-Info, AUTH OK\r\n"
            "-RyMail-Info, Sending MAIL FROM: sender@example.com\r\r\n"
            "-RyMail-Info, MAIL FROM: OK\r\n"
            "-RyMail-Info, Received 250 2.1.0 Ok\r\r\n"
            "-RyMail-Info, Sending RCPT TO: rcpt@example.com\r\r\n"
            "-RyMail-Info, RCPT TO: OK\r\n"
            "-RyMail-Info, Received 250 2.1.5 Ok\r\r\n" +
                std::string(kLogFromData));
  ExpectNoSecret(run);
}

TEST_F(Submission, ImplicitTlsOnTheSubmissionsPortWithAuthLoginAndAPasswordFile) {
  SubmissionRelay::Options options;
  options.port = 465;
  options.implicitTls = true;
  SubmissionRelay relay(options);
  std::vector<std::string> arguments = TlsArguments("implicit", 465);
  arguments.erase(arguments.begin() + 12, arguments.begin() + 14);  // no --port: the submissions service
  std::string passwordFile = dir_.Write("password", std::string(kPassword) + "\r\nsecond line\n");
  arguments.insert(arguments.end(), {"--auth", "login", "--password-file", passwordFile});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(MaskVolatile(relay.Secure()), "EHLO client.example.com\r\nAUTH LOGIN\r\n" + Base64("alice") + "\r\n" +
                                              Base64(kPassword) +
                                              "\r\nMAIL FROM: sender@example.com\r\nRCPT TO: rcpt@example.com\r\n" +
                                              MessageAfterTheEnvelope(ReceivedLine()));
  std::string log = Log();
  EXPECT_NE(log.find("Found submissions Service\r\n-RyMail-Info, Connection to localhost established.\r\n"
                     "-RyMail-Info, TLS OK: <SESSION>\r\n-RyMail-Info, Certificate of localhost verified\r\n"
                     "-RyMail-Info, Received 220 relay.example.com"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Sending AUTH LOGIN\r\n-RyMail-Info, Received 334 VXNlcm5hbWU6\r\r\n"
                     "-RyMail-Info, Sending the user name\r\n-RyMail-Info, Received 334 UGFzc3dvcmQ6\r\r\n"
                     "-RyMail-Info, Sending the password\r\n"),
            std::string::npos);
  ExpectNoSecret(run);
}

TEST_F(Submission, BearerTokensByEachMechanismFromEachSource) {
  const std::string both = "250-relay.example.com\r\n250-AUTH PLAIN LOGIN XOAUTH2 OAUTHBEARER\r\n250 8BITMIME\r\n";
  const std::string report =
      "334 " + Base64(R"({"status":"invalid_token","scope":"https://mail.example.com/","schemes":"bearer"})") + "\r\n";
  const std::string refused = "535 5.7.8 Username and Password not accepted\r\n";
  std::string longToken(12 * 1024, 'T');
  std::string tokenFile = dir_.Write("token", std::string(kToken) + "\r\nnot this line\n");
  std::string longTokenFile = dir_.Write("long-token", longToken + "\n");
  std::string xoauth2 = "AUTH XOAUTH2\r\n" + Base64(Xoauth2(kToken)) + "\r\n";
  std::string oauthBearer = "AUTH OAUTHBEARER\r\n" + Base64(OauthBearer(kToken, 587)) + "\r\n";
  struct Case {
    const char* name;
    const char* mechanism;  // the Auth value
    std::vector<std::string> source;
    std::vector<std::string> environment;
    std::map<std::string, std::string> answers;
    std::string exchange;  // what follows EHLO through TLS, before MAIL FROM
    std::string failure;   // empty when the message is sent
    const char* result;
    std::string token = kToken;
  } cases[] = {
      {"XOAUTH2, token in ryPassword", "xoauth2", {}, {std::string("ryPassword=") + kToken}, {{"EHLO-TLS", both}},
       xoauth2, "", "accepted"},
      {"OAUTHBEARER, token file", "oauthbearer", {"--password-file", tokenFile}, {}, {{"EHLO-TLS", both}},
       oauthBearer, "", "accepted"},
      {"XOAUTH2, token command", "xoauth2", {"--password-command", std::string("echo ") + kToken}, {},
       {{"EHLO-TLS", both}}, xoauth2, "", "accepted"},
      {"OAUTHBEARER, token command from ryPasswordCommand", "oauthbearer", {},
       {std::string("ryPasswordCommand=echo ") + kToken}, {{"EHLO-TLS", both}}, oauthBearer, "", "accepted"},
      {"12 KB token", "xoauth2", {"--password-command", PrintFile(longTokenFile)}, {}, {{"EHLO-TLS", both}},
       "AUTH XOAUTH2\r\n" + Base64(Xoauth2(longToken)) + "\r\n", "", "accepted", longToken},
      {"XOAUTH2 token refused", "xoauth2", {"--password-file", tokenFile}, {},
       {{"EHLO-TLS", both}, {"AUTH-ERROR", report}, {"AUTH", refused}}, xoauth2 + "\r\n",
       "AUTH was refused: 535 5.7.8 Username and Password not accepted (token status invalid_token)",
       "login-refused"},
      {"OAUTHBEARER token refused", "oauthbearer", {"--password-file", tokenFile}, {},
       {{"EHLO-TLS", both}, {"AUTH-ERROR", report}, {"AUTH", refused}}, oauthBearer + "AQ==\r\n",
       "AUTH was refused: 535 5.7.8 Username and Password not accepted (token status invalid_token)",
       "login-refused"},
      {"neither offered", "xoauth2", {"--password-file", tokenFile}, {}, {}, "",
       "The relay does not offer AUTH XOAUTH2", "protocol"},
      {"only the other offered", "oauthbearer", {"--password-file", tokenFile}, {},
       {{"EHLO-TLS", "250-relay.example.com\r\n250 AUTH XOAUTH2\r\n"}}, "",
       "The relay does not offer AUTH OAUTHBEARER", "protocol"},
  };
  std::string resultFile = dir_.path() + "/result.json";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SubmissionRelay::Options options;
    options.answers = c.answers;
    SubmissionRelay relay(options);
    std::vector<std::string> arguments = TlsArguments("starttls", 587);
    arguments.insert(arguments.end(), {"--auth", c.mechanism, "--exit-codes", "sysexits", "--result-file", resultFile});
    arguments.insert(arguments.end(), c.source.begin(), c.source.end());
    ProgramRun run = RunProgram(arguments, Environment(c.environment));
    std::string secure = MaskVolatile(relay.Secure());
    std::map<std::string, std::string> result = ParseJsonLine(ReadWholeFile(resultFile));
    EXPECT_EQ(result["result"], c.result);
    std::string start = "-RyMail-Info, Initializing Debug File [" + log_ + "]\r\n";
    if (c.failure.empty()) {
      EXPECT_EQ(run.status, 0) << run.output;
      EXPECT_EQ(run.output, start + kSentLine);
      EXPECT_EQ(secure, "EHLO client.example.com\r\n" + c.exchange +
                            "MAIL FROM: sender@example.com\r\nRCPT TO: rcpt@example.com\r\n" +
                            MessageAfterTheEnvelope(ReceivedLine()));
      std::string mechanism = c.exchange.substr(5, c.exchange.find('\r') - 5);
      EXPECT_EQ(result["auth"], mechanism);
      EXPECT_NE(Log().find("Sending AUTH " + mechanism + "\r\n-RyMail-Info, Received 334 \r\r\n"
                           "-RyMail-Info, Sending the token\r\n"
                           "-RyMail-Info, Received 235 2.7.0 Authentication successful\r\r\n"
                           "-RyMail-Info, AUTH OK\r\n"),
                std::string::npos);
    } else {
      EXPECT_EQ(run.status, c.result == std::string("protocol") ? 76 : 77);
      EXPECT_EQ(run.output.find(start + "-RyMail-FAIL, " + c.failure + "\r\n"), 0u) << run.output;
      EXPECT_EQ(secure, "EHLO client.example.com\r\n" + c.exchange);
      EXPECT_EQ(result["failure"], c.failure);
    }
    if (c.answers.count("AUTH-ERROR")) {
      EXPECT_NE(Log().find("-RyMail-Info, Sending the token\r\n-RyMail-Info, Received " + report.substr(0, 40)),
                std::string::npos);
      EXPECT_NE(Log().find("\r\n-RyMail-Info, Token refused: status invalid_token, scope https://mail.example.com/\r\n"
                           "-RyMail-Info, Answering the error report\r\n"
                           "-RyMail-Info, Received 535 5.7.8 Username and Password not accepted\r\r\n"
                           "-RyMail-FAIL, " + c.failure + "\r\n"),
                std::string::npos)
          << Log();
    }
    ExpectNoSecret(run, c.token);
    ExpectNoSecretIn(ReadWholeFile(resultFile), c.token);
  }
}

TEST_F(Submission, HostileRelaysAndBadCertificatesFailBeforeTheEnvelope) {
  const TestCertificates& certificates = Certificates();
  std::string blob = Base64(std::string("\0alice\0", 7) + kPassword);
  struct Case {
    const char* name;
    std::map<std::string, std::string> answers;
    std::string certificate;
    std::string failure;  // the start of the failure line
    const char* result;   // in the result file
  } cases[] = {
      {"STARTTLS not offered", {{"EHLO", "250-relay.example.com\r\n250 AUTH PLAIN\r\n"}}, certificates.good,
       "The relay does not offer STARTTLS", "protocol"},
      {"454 to STARTTLS", {{"STARTTLS", "454 4.7.0 TLS not available\r\n"}}, certificates.good,
       "The relay refused STARTTLS: 454 4.7.0 TLS not available", "temporary"},
      {"injected after 220", {{"STARTTLS", "220 2.0.0 Ready\r\n250 injected\r\n"}}, certificates.good,
       "Data arrived after the STARTTLS reply, before TLS: the connection is not safe", "protocol"},
      {"close during the handshake", {{"HANDSHAKE", "<close>"}}, certificates.good,
       "The TLS handshake with localhost failed: ", "refused"},
      {"another name", {}, certificates.otherName, "The certificate does not name localhost: ", "refused"},
      {"expired", {}, certificates.expired, "The certificate of localhost is not trusted: ", "refused"},
      {"unknown CA", {}, certificates.unknownCa, "The certificate of localhost is not trusted: ", "refused"},
      {"a name in the CN only", {}, certificates.commonNameOnly,
       "The certificate does not name localhost: it has no subjectAltName", "refused"},
      {"AUTH not offered", {{"EHLO-TLS", "250-relay.example.com\r\n250 8BITMIME\r\n"}}, certificates.good,
       "The relay does not offer AUTH", "protocol"},
      {"535 to AUTH", {{"AUTH", "535 5.7.8 Authentication credentials invalid\r\n"}}, certificates.good,
       "AUTH was refused: 535 5.7.8 Authentication credentials invalid", "login-refused"},
      {"535 echoing the secret", {{"AUTH", "535 5.7.8 " + blob + " " + kPassword + " " + Base64(kPassword) + "\r\n"}},
       certificates.good, "AUTH was refused: 535 5.7.8 [secret] [secret] [secret]", "login-refused"},
      {"454 to AUTH", {{"AUTH", "454 4.7.0 Temporary authentication failure\r\n"}}, certificates.good,
       "AUTH was refused: 454 4.7.0 Temporary authentication failure", "temporary"},
  };
  std::string resultFile = dir_.path() + "/result.json";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SubmissionRelay::Options options;
    options.answers = c.answers;
    options.certificate = c.certificate;
    SubmissionRelay relay(options);
    std::vector<std::string> arguments = TlsArguments("starttls", 587);
    arguments.insert(arguments.end(), {"--result-file", resultFile});
    ProgramRun run = RunProgram(arguments, WithPassword());
    EXPECT_EQ(run.status, 1);
    std::string first = "-RyMail-FAIL, " + c.failure;
    EXPECT_EQ(run.output.find("-RyMail-Info, Initializing Debug File [" + log_ + "]\r\n" + first), 0u) << run.output;
    EXPECT_EQ(run.output.substr(run.output.size() - std::string(kFailedToSend).size()), kFailedToSend);
    EXPECT_EQ((relay.Plain() + relay.Secure()).find("MAIL FROM"), std::string::npos);
    EXPECT_EQ(relay.Plain().find("AUTH"), std::string::npos);
    ExpectNoSecret(run);
    std::string line = ReadWholeFile(resultFile);
    EXPECT_EQ(ParseJsonLine(line)["result"], c.result) << line;
    ExpectNoSecretIn(line);
  }
  // A relay that takes AUTH but refuses the sender: the run ends there, the sender sent only through TLS.
  SubmissionRelay::Options refusing;
  refusing.answers = {{"MAIL", "530 5.7.0 Authentication required\r\n"}};
  SubmissionRelay relay(refusing);
  ProgramRun run = RunProgram(TlsArguments("starttls", 587), WithPassword());
  EXPECT_EQ(run.status, 1);
  std::string refused = "-RyMail-FAIL, The relay refused MAIL FROM: 530 5.7.0 Authentication required\r\n";
  EXPECT_EQ(run.output.substr(run.output.size() - refused.size()), refused);
  EXPECT_EQ(relay.Plain().find("MAIL FROM"), std::string::npos);
  EXPECT_NE(relay.Secure().find("MAIL FROM"), std::string::npos);
}

// On the submission path a refusal names its step and quotes the relay's last line; the plain path keeps its text.
TEST_F(Submission, RefusalsOnTheSubmissionPathQuoteTheReply) {
  struct Case {
    std::string command;
    std::string answer;
    std::vector<std::string> extra;
    std::string line;
  } cases[] = {
      {"MAIL", "530 5.7.0 Must issue a STARTTLS command first\r\n", {"--port", "587"},
       "The relay refused MAIL FROM: 530 5.7.0 Must issue a STARTTLS command first"},
      {"EHLO", "554-5.7.1 Go away\r\n554 5.7.1 we mean it\r\n", {"--tls", "starttls", "--port", "587"},
       "The relay refused EHLO: 554 5.7.1 we mean it"},
      {"RCPT", "550 5.1.1 No such user\r\n", {"--port", "587"}, "The relay refused RCPT TO: 550 5.1.1 No such user"},
      {"DATA", "554 5.5.1 No valid recipients\r\n", {"--port", "587"},
       "The relay refused DATA: 554 5.5.1 No valid recipients"},
      {".", "552 5.3.4 Message too big\r\n", {"--port", "587"}, "The relay refused the message: 552 5.3.4 Message too big"},
      {"MAIL", "530 5.7.0 Must issue a STARTTLS command first\r\n", {}, "Previous response was not expected!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    SubmissionRelay::Options options;
    options.port = c.extra.empty() ? 25 : 587;
    options.answers = {{c.command, c.answer}};
    SubmissionRelay relay(options);
    std::vector<std::string> arguments = MailArguments();
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    arguments.insert(arguments.end(), {"--ca-file", Certificates().caFile});
    ProgramRun run = RunProgram(arguments, Environment());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "-RyMail-FAIL, " + c.line + "\r\n");
  }
}

TEST_F(Submission, TlsVerifyOffTakesAnyCertificateAndSaysSo) {
  for (const std::string& certificate : {Certificates().otherName, Certificates().expired}) {
    SubmissionRelay::Options options;
    options.certificate = certificate;
    SubmissionRelay relay(options);
    std::vector<std::string> arguments = TlsArguments("starttls", 587);
    arguments.insert(arguments.end(), {"--tls-verify", "off"});
    ProgramRun run = RunProgram(arguments, WithPassword());
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(Log().find("Certificate of localhost not verified (TlsVerify off)\r\n"), std::string::npos);
  }
}

TEST_F(Submission, AddressLiteralIsCheckedAgainstTheCertificatesAddresses) {
  struct Case {
    const char* gateway;
    const char* relayAt;
    std::string certificate;
    const char* sent;  // the name sent in the handshake: none for an address
  } cases[] = {
      {"localhost", "127.0.0.1", Certificates().good, "localhost"},
      {"127.0.0.1", "127.0.0.1", Certificates().good, ""},
      {"127.0.0.1", "127.0.0.1", Certificates().otherName, ""},
      {"[::1]", "::1", Certificates().withIpv6, ""},
      {"[::1]", "::1", Certificates().otherName, ""},
  };
  for (const Case& c : cases) {
    // Wine's certificate chain engine fails a certificate that names an IPv6 address ("signature failure").
    if (RunsUnderWine() && c.certificate == Certificates().withIpv6) continue;
    SubmissionRelay::Options options;
    options.certificate = c.certificate;
    options.address = c.relayAt;
    SubmissionRelay relay(options);
    std::vector<std::string> arguments = TlsArguments("starttls", 587);
    arguments[5] = c.gateway;
    ProgramRun run = RunProgram(arguments, WithPassword());
    bool named = c.certificate != Certificates().otherName;
    EXPECT_EQ(run.status, named ? 0 : 1) << c.gateway << "\n" << run.output;
    EXPECT_EQ(run.output.find("-RyMail-FAIL, The certificate does not name " + std::string(c.gateway) + ": ") ==
                  std::string::npos,
              named)
        << run.output;
    EXPECT_EQ(relay.ServerName(), c.sent) << c.gateway;
  }
}

TEST_F(Submission, PortAloneChangesOnlyThePort) {
  SubmissionRelay::Options options;
  options.port = 2525;
  SubmissionRelay relay(options);
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"--port", "2525"});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(MaskVolatile(relay.Plain()), "HELO client.example.com\r\nMAIL FROM: sender@example.com\r\n"
                                         "RCPT TO: rcpt@example.com\r\n" + MessageAfterTheEnvelope(ReceivedLine()));
}

TEST_F(Submission, SettingsAreRefusedBeforeAnyNetworkActivity) {
  std::string longPassword(16384, 'p');
  std::string missing = dir_.path() + "/missing";
  // A FIFO without a writer: reading it as the CA file would wait for good.
  std::string fifo = dir_.path() + "/fifo";
  ::mkfifo(fifo.c_str(), 0600);
  std::string tokenFile = dir_.Write("token", std::string(kToken) + "\n");
  std::vector<std::string> login = {"--tls", "starttls", "--user", "alice"};
  auto with = [&login](std::vector<std::string> more) {
    more.insert(more.begin(), login.begin(), login.end());
    return more;
  };
  struct Case {
    std::vector<std::string> extra;
    std::vector<std::string> environment;
    std::string failure;
    const char* result = "usage";
  } cases[] = {
      {{"--tls", "ssl"}, {}, "The Tls value must be none, starttls or implicit."},
      {{}, {"RYTLS=StartTLS"}, "The Tls value must be none, starttls or implicit."},
      {{"--port", "0"}, {}, "The Port value must be a port from 1 to 65535 or a service name."},
      {{"--port", "65536"}, {}, "The Port value must be a port from 1 to 65535 or a service name."},
      {{"--port", "25 x"}, {}, "The Port value must be a port from 1 to 65535 or a service name."},
      {{"--tls", "starttls", "--tls-verify", "no"}, {}, "The TlsVerify value must be on or off."},
      {{"--tls", "starttls", "--user", "a", "--auth", "cram-md5"}, {}, "The Auth value must be plain, login, xoauth2 or oauthbearer."},
      {{"--tls", "starttls", "--auth", "xoauth2"}, {"ryPassword=x"}, "The Auth value xoauth2 needs a User: add --user."},
      {{"--tls", "implicit"}, {"ryAuth=oauthbearer"}, "The Auth value oauthbearer needs a User: add --user."},
      {with({"--password-command", "exit 3"}), {}, "The PasswordCommand failed with exit status 3.", "input"},
      {with({"--password-command", "exit 0"}), {}, "The PasswordCommand printed no password."},
      {with({"--password-command", PrintFile(dir_.Write("long-token", longPassword + "\n"))}), {},
       "The PasswordCommand printed a first line longer than 16383 characters."},
      {with({"--password-command", "echo x", "--password-file", tokenFile}), {},
       "Name one source of the password: PasswordCommand, PasswordFile or ryPassword."},
      {with({"--password-command", "echo x"}), {"ryPasswordFile=" + tokenFile},
       "Name one source of the password: PasswordCommand, PasswordFile or ryPassword."},
      {with({}), {"ryPasswordCommand=echo x", "ryPassword=y"},
       "Name one source of the password: PasswordCommand, PasswordFile or ryPassword."},
      {{"--user", "alice"}, {"ryPassword=x"}, "The User value asks for AUTH, which needs TLS: add --tls starttls or --tls implicit."},
      {{"--tls", "none", "--user", "alice"}, {"ryPassword=x"}, "The User value asks for AUTH, which needs TLS: add --tls starttls or --tls implicit."},
      {{"--tls", "starttls", "--user", "alice"}, {}, "The User value needs a password: ryPassword or --password-file."},
      {{"--tls", "starttls", "--user", "alice"}, {"ryPassword="}, "The password is empty."},
      {{"--tls", "starttls", "--user", "alice", "--password-file", dir_.Write("empty", "\n")}, {},
       "The password is empty."},
      {{"--tls", "starttls", "--user", "alice"}, {"ryPassword=" + longPassword}, "The password is longer than 16383 characters."},
      {{"--tls", "starttls", "--user", "alice", "--password-file", dir_.Write("long", longPassword)}, {},
       "The password is longer than 16383 characters."},
      {{"--tls", "starttls", "--user", "alice", "--password-file", missing}, {}, "Failed to open the PasswordFile",
       "input"},
      {{"--tls", "implicit", "--ca-file", missing}, {}, "The CaFile does not exist.", "input"},
      {{"--tls", "implicit", "--ca-file", dir_.path()}, {}, "The CaFile is not a regular file.", "input"},
      {{"--tls", "implicit", "--ca-file", fifo}, {}, "The CaFile is not a regular file.", "input"},
  };
  std::string resultFile = dir_.path() + "/result.json";
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"--result-file", resultFile};
    std::vector<std::string> mail = MailArguments();
    arguments.insert(arguments.end(), mail.begin(), mail.end());
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    ProgramRun run = RunProgram(arguments, Environment(c.environment));
    EXPECT_EQ(run.status, 1) << c.failure;
    EXPECT_EQ(run.output, "\r\n-RyMail-FAIL, " + c.failure + "\r\n\r\n");
    EXPECT_EQ(run.output.find(longPassword.substr(0, 100)), std::string::npos);
    EXPECT_EQ(ParseJsonLine(ReadWholeFile(resultFile))["result"], c.result) << c.failure;
  }
  ProgramRun password = RunProgram({"--password", kPassword}, Environment());
  EXPECT_EQ(password.output, "\r\n-RyMail-FAIL, Don't understand [--password]\r\n\r\n");
}

TEST_F(Submission, DebugFileThatIsThePasswordOrCaFileIsRefusedUntouched) {
  std::string passwordFile = dir_.Write("password", std::string(kPassword) + "\n");
  std::string caFile = Certificates().caFile;
  std::string ca = ReadWholeFile(caFile);
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    std::string named;
  } cases[] = {
      {{"-d", passwordFile, "--password-file", passwordFile}, {}, passwordFile},
      {{"-d", passwordFile}, {"ryPasswordFile=" + passwordFile}, passwordFile},
      {{"--ca-file", caFile}, {"ryDebugFile=" + caFile}, caFile},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = MailArguments();
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ProgramRun run = RunProgram(arguments, Environment(c.environment));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "-RyMail-Info, Initializing Debug File [" + c.named + "]\r\n\r\n-RyMail-FAIL, The debug file [" +
                              c.named + "] is an input file.\r\n\r\n");
  }
  EXPECT_EQ(ReadWholeFile(passwordFile), std::string(kPassword) + "\n");
  EXPECT_EQ(ReadWholeFile(caFile), ca);
}

TEST_F(Submission, LongestPasswordGoesWhole) {
  std::string password(16383, 'k');
  SubmissionRelay relay({});
  std::vector<std::string> arguments = TlsArguments("starttls", 587);
  arguments.insert(arguments.end(), {"--password-file", dir_.Write("password", password + "\n")});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0) << run.output.substr(0, 300);
  EXPECT_NE(relay.Secure().find("AUTH PLAIN " + Base64(std::string("\0alice\0", 7) + password) + "\r\n"),
            std::string::npos);
}

// Without --ca-file the system's store is used as OpenSSL's defaults name
// it: the hashed directory, searched by name, and a file of anchors.
class SubmissionSystemStore : public Submission {};

TEST_F(SubmissionSystemStore, HashedDirectoryOrFileAsTheEnvironmentNames) {
  if (RunsUnderWine()) GTEST_SKIP() << "Windows keeps its own store";
  const TestCertificates& certificates = Certificates();
  TempDir unhashed;
  unhashed.Write("ca.pem", ReadWholeFile(certificates.caFile));
  struct Case {
    const char* name;
    std::vector<std::string> environment;
    std::vector<std::pair<std::string, std::string>> replacedFiles;
    bool trusted;
  } cases[] = {
      {"SSL_CERT_DIR", {"SSL_CERT_DIR=" + certificates.caDirectory}, {}, true},
      {"SSL_CERT_DIR list", {"SSL_CERT_DIR=" + unhashed.path() + ":" + certificates.caDirectory}, {}, true},
      {"SSL_CERT_FILE beside the default directory", {"SSL_CERT_FILE=" + certificates.caFile}, {}, true},
      // A directory without hashed names is not a store: OpenSSL's own file is read instead.
      {"no hashed names", {"SSL_CERT_DIR=" + unhashed.path()}, {{"/usr/lib/ssl/cert.pem", certificates.caFile}}, true},
      {"the system's store", {}, {}, false},
      {"an empty directory named", {"SSL_CERT_DIR=" + certificates.caDirectory + "/none"}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SubmissionRelay relay({});
    std::vector<std::string> arguments = MailArguments();
    arguments.insert(arguments.end(), {"--tls", "starttls", "--port", "587", "-d", log_});
    RunOptions options;
    options.replacedFiles = c.replacedFiles;
    ProgramRun run = RunProgram(arguments, Environment(c.environment), options);
    EXPECT_EQ(run.status, c.trusted ? 0 : 1) << run.output;
    EXPECT_EQ(run.output.find("-RyMail-FAIL, The certificate of localhost is not trusted: unable to get local issuer "
                              "certificate\r\n") == std::string::npos,
              c.trusted)
        << run.output;
  }
}

// The path of the TLS library as this test process, which links it, mapped it.
std::string MappedLibrary(const std::string& name) {
  std::string maps = ReadWholeFile("/proc/self/maps");
  std::size_t found = maps.find("/" + name + "\n");
  if (found == std::string::npos) return "";
  std::size_t start = maps.rfind(' ', found) + 1;
  return maps.substr(start, found + 1 + name.size() - start);
}

TEST_F(Submission, TlsLibraryThatCannotBeLoadedFailsTheRunAsASystemFailure) {
  if (RunsUnderWine()) GTEST_SKIP() << "libssl is the Linux build's";
  std::string library = MappedLibrary("libssl.so.3");
  ASSERT_FALSE(library.empty());
  std::string resultFile = dir_.path() + "/result.json";
  for (bool implicit : {false, true}) {
    SCOPED_TRACE(implicit ? "implicit" : "starttls");
    SubmissionRelay::Options relayOptions;
    relayOptions.implicitTls = implicit;
    relayOptions.port = implicit ? 465 : 587;
    SubmissionRelay relay(relayOptions);
    std::vector<std::string> arguments = TlsArguments(implicit ? "implicit" : "starttls", relayOptions.port);
    arguments.insert(arguments.end(), {"--exit-codes", "sysexits", "--result-file", resultFile});
    RunOptions options;
    options.replacedFiles = {{library, dir_.Write("empty.so", "")}};
    ProgramRun run = RunProgram(arguments, WithPassword(), options);
    EXPECT_EQ(run.status, 71) << run.output << run.errors;
    std::string failure = "-RyMail-FAIL, The TLS handshake with localhost failed: TLS is not available: "
                          "libssl.so.3 cannot be loaded (";
    EXPECT_NE(run.output.find("]\r\n" + failure), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("file too short)\r\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.substr(run.output.size() - std::string(kFailedToSend).size()), kFailedToSend);
    std::map<std::string, std::string> result = ParseJsonLine(ReadWholeFile(resultFile));
    EXPECT_EQ(result["result"], "system");
    EXPECT_EQ(result["step"], "tls");
    EXPECT_EQ((relay.Plain() + relay.Secure()).find("AUTH"), std::string::npos);
    ExpectNoSecret(run);
  }
}

}  // namespace

namespace {

class PortMixUp : public ProcessTest {};

// Port 465 without --tls implicit: said before connecting, and answered in
// seconds; bytes of a TLS record instead of a greeting end the run at once.
TEST_F(PortMixUp, TlsFromTheFirstByteIsNamed) {
  RelayStep alert = Answer(std::string("\x15\x03\x03\x00\x02\x02\x28", 7));
  alert.then = RelayStep::Then::kClose;
  ScriptedRelay relay({alert}, 5000);
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"--port", "25", "--exit-codes", "sysexits"});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 78);
  EXPECT_EQ(run.output, "-RyMail-FAIL, The relay at 25 speaks TLS from the first byte: use --tls implicit.\r\n" +
                            std::string(kFailedToSend));

  SubmissionRelay::Options options;
  options.port = 465;
  options.implicitTls = true;
  SubmissionRelay waiting(options, 30000);
  arguments = MailArguments();
  arguments.insert(arguments.end(), {"--port", "submissions", "--tls", "starttls"});
  auto begun = std::chrono::steady_clock::now();
  run = RunProgram(arguments, Environment());
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(25)) << "a ceiling, not a timing";
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "-RyMail-Info, Port 465 expects TLS from the first byte: add --tls implicit.\r\n"
            "-RyMail-FAIL, No greeting from localhost port 465 within 15 s: it expects TLS from the first byte, use "
            "--tls implicit.\r\n" +
                std::string(kFailedToSend));
}

}  // namespace
