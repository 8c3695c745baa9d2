// Shared setup of the tests that run the built program: a private network,
// a directory for files and the usual arguments of a delivery.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registration.h"
#include "process/private_network.h"
#include "process/run_program.h"
#include "process/scripted_relay.h"
#include "test_files.h"

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!EnterPrivateNetwork(why)) {
      // A machine without namespaces cannot run these; CI must.
      if (std::getenv("CI") != nullptr) FAIL() << "no private network: " << why;
      GTEST_SKIP() << "no private network: " << why;
    }
    body_ = dir_.Write("body.txt", "Hello,\nthis is the body.\n");
  }

  /// The arguments of a delivery to one recipient through the loopback relay.
  std::vector<std::string> MailArguments() const {
    return {"-f", "sender@example.com", "-t", "rcpt@example.com", "-g", "localhost",
            "-h", "client.example.com", "-i", body_};
  }

  /// The environment every run gets, plus extra entries.
  static std::vector<std::string> Environment(std::vector<std::string> extra = {}) {
    std::vector<std::string> entries{"TZ=UTC", "ORGANIZATION=Example Org"};
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
  }

  /// The Received line the program writes for this user (under wine: the
  /// owner that tools/test-windows.sh puts in the registry).
  static std::string ReceivedLine() {
    std::string owner = RunsUnderWine() ? "Test Owner" : platform::ReadRegistrationValue("Windows", "RegisteredOwner");
    return "Received: by ryMail from " + owner + " of Example Org\r\n";
  }

  static bool RunsUnderWine() {
    const char* windows = std::getenv("RYMAIL_WINDOWS_PROGRAM");
    return windows != nullptr && *windows != '\0';
  }

  /// The wire bytes of a delivery made with MailArguments(), up to the body.
  static std::string EnvelopeAndHeaders() {
    return "HELO client.example.com\r\nMAIL FROM: sender@example.com\r\nRCPT TO: rcpt@example.com\r\nDATA\r\n" +
           ReceivedLine() +
           "Message-ID: <ID>\r\n"
           "Date: <DATE>\r\n"
           "X-Mailer: ryMail-V1.0 for DOS available at https://rymail.example.org/\r\n"
           "From: sender@example.com\r\nTo: rcpt@example.com\r\nSubject: None\r\n\r\n";
  }

  TempDir dir_;
  std::string body_;
};

/// The debug-file records of an accepted delivery from DATA to the end, as
/// AcceptingScript() and the submission relay answer them.
constexpr char kLogFromData[] =
    "-RyMail-Info, Sending DATA\r\n"
    "-RyMail-Info, DATA OK\r\n"
    "-RyMail-Info, Received 354 End data with <CR><LF>.<CR><LF>\r\r\n"
    "-RyMail-Info, Received: by OK\r\n"
    "-RyMail-Info, Message ID OK\r\n"
    "-RyMail-Info, Date OK\r\n"
    "-RyMail-Info, X-Mailer Info OK\r\n"
    "-RyMail-Info, FROM: OK\r\n"
    "-RyMail-Info, TO: OK\r\n"
    "-RyMail-Info, SUBJECT: OK\r\n"
    "-RyMail-Info, EOF . OK\r\n"
    "-RyMail-Info, Received 250 2.0.0 Ok: queued\r\r\n"
    "-RyMail-Info, Received 221 2.0.0 Bye\r\r\n"
    "-RyMail-Info, Your mail has been sent.\r\n";

constexpr char kSentLine[] = "\r\n-RyMail-Info, Your mail has been sent.\r\n\r\n";
constexpr char kNotExpected[] = "-RyMail-FAIL, Previous response was not expected!\r\n";
constexpr char kFailedToSend[] = "-RyMail-FAIL, Failed to send the mail.\r\n";
