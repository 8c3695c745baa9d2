// The edges of the process: standard streams that are closed or broken, a
// debug file that is a FIFO, texts from the system that hold line breaks, and
// the libraries a run loads.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "process/process_fixture.h"

namespace {

using Output = RunOptions::Output;

class ProcessBoundary : public ProcessTest {
 public:
  // The whole wire of an accepted delivery made with MailArguments().
  static std::string AcceptedWire() {
    return EnvelopeAndHeaders() + "Hello,\r\nthis is the body.\r\n\r\n.\r\nQUIT\r\n";
  }
};

TEST_F(ProcessBoundary, BrokenOrClosedStandardOutputNeverChangesTheDelivery) {
  for (Output output : {Output::kReaderGone, Output::kClosed}) {
    for (bool screen : {false, true}) {
      SCOPED_TRACE(std::string(output == Output::kClosed ? "closed" : "reader gone") + (screen ? ", -d S" : ""));
      ScriptedRelay relay(AcceptingScript());
      std::vector<std::string> arguments = MailArguments();
      if (screen) arguments.insert(arguments.end(), {"-d", "S"});
      RunOptions options;
      options.output = output;
      ProgramRun run = RunProgram(arguments, Environment(), options);
      EXPECT_EQ(run.signal, 0);
      EXPECT_EQ(run.status, 0) << "the relay took the message: a caller must not send it again";
      EXPECT_EQ(MaskVolatile(relay.Received()), AcceptedWire());
    }
  }
}

TEST_F(ProcessBoundary, ConsoleTextNeverReachesTheRelay) {
  std::vector<RelayStep> script = AcceptingScript();
  script[3] = Answer("550 5.1.1 No such user\r\n");
  ScriptedRelay relay(script);
  RunOptions options;
  options.output = Output::kClosed;
  ProgramRun run = RunProgram(MailArguments(), Environment(), options);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(relay.Received(), "HELO client.example.com\r\nMAIL FROM: sender@example.com\r\nRCPT TO: rcpt@example.com\r\n");
}

TEST_F(ProcessBoundary, DebugFileFifoNeverBlocks) {
  std::string fifo = dir_.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  {
    // No reader: the debug file cannot be made.
    std::vector<std::string> arguments = MailArguments();
    arguments.insert(arguments.end(), {"-d", fifo});
    ProgramRun run = RunProgram(arguments, Environment(), 20);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "-RyMail-Info, Initializing Debug File [" + fifo + "]\r\n-RyMail-FAIL, Failed to open the debug file [" +
                              fifo + "].\r\n");
  }
  // A reader that takes the first record and goes: the later records are dropped.
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  std::string first;
  std::thread readOnce([&] {
    pollfd ready{reader, POLLIN, 0};
    while (first.find('\n') == std::string::npos && ::poll(&ready, 1, 20000) > 0) {
      char buffer[256];
      ssize_t got = ::read(reader, buffer, sizeof buffer);
      if (got <= 0) break;
      first.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(reader);
  });
  ScriptedRelay relay(AcceptingScript());
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-d", fifo});
  ProgramRun run = RunProgram(arguments, Environment(), 20);
  readOnce.join();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(MaskVolatile(first.substr(0, 46)), "Initiated RyMail at <TIME>\r\n");
  EXPECT_EQ(MaskVolatile(relay.Received()), AcceptedWire());
}

TEST_F(ProcessBoundary, DebugFileOnStandardError) {
  ScriptedRelay relay(AcceptingScript());
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"-d", "/dev/stderr"});
  ProgramRun run = RunProgram(arguments, Environment());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(MaskVolatile(run.errors.substr(0, 46)), "Initiated RyMail at <TIME>\r\n");
  EXPECT_NE(run.errors.find("-RyMail-Info, EOF . OK\r\n"), std::string::npos);
}

TEST_F(ProcessBoundary, LineBreaksInTheOrganisationBecomeBlanks) {
  struct Case {
    std::string organisation;
    std::string shown;
  } cases[] = {
      {"Acme\r\n.\r\nMAIL FROM:<smuggled@example.org>", "Acme  .  MAIL FROM:<smuggled@example.org>"},
      {"Acme\nBcc: hidden@example.org", "Acme Bcc: hidden@example.org"},
  };
  for (const Case& c : cases) {
    ScriptedRelay relay(AcceptingScript());
    std::vector<std::string> environment{"TZ=UTC", "ORGANIZATION=" + c.organisation};
    ProgramRun run = RunProgram(MailArguments(), environment);
    EXPECT_EQ(run.status, 0);
    std::string expected = AcceptedWire();
    std::string line = ReceivedLine();
    expected.replace(expected.find(line), line.size(),
                     line.substr(0, line.size() - std::string("Example Org\r\n").size()) + c.shown + "\r\n");
    EXPECT_EQ(MaskVolatile(relay.Received()), expected);
  }
}

// A moment of a plain run at which its mappings are read: just before the
// relay answers this step of AcceptingScript(), while RyMail waits for it.
struct MappingMoment {
  const char* name;
  std::size_t step;
};

// While it holds a password, no process of the same user without privileges
// can read RyMail's memory or environment, and its own environment has lost
// the ryPassword value (root can still look, and finds it gone).
TEST_F(ProcessBoundary, PasswordIsKeptFromOtherReaders) {
  // Under valgrind the program's environment is a copy inside valgrind's own process.
  const char* valgrind = std::getenv("RYMAIL_VALGRIND");
  if (RunsUnderWine() || (valgrind != nullptr && std::string(valgrind) == "1")) GTEST_SKIP() << "a Linux process's memory";
  const std::string password = "env-pass-Wd93";
  std::promise<int> started;
  std::shared_future<int> processId = started.get_future().share();
  std::string environment;
  int unprivilegedRead = 0;
  std::vector<RelayStep> script = AcceptingScript();
  script[0].beforeAnswer = [&] {
    if (processId.wait_for(std::chrono::seconds(60)) != std::future_status::ready) return;
    std::string proc = "/proc/" + std::to_string(processId.get()) + "/environ";
    environment = ReadWholeFile(proc);
    unprivilegedRead = std::system(("/usr/bin/setpriv --securebits +noroot --inh-caps -all --bounding-set -all -- "
                                    "/bin/cat " + proc + " >/dev/null 2>&1").c_str());
  };
  ScriptedRelay relay(script);
  RunOptions options;
  options.started = [&](int id) { started.set_value(id); };
  std::vector<std::string> arguments = MailArguments();
  arguments.insert(arguments.end(), {"--tls", "starttls", "--user", "alice"});
  ProgramRun run = RunProgram(arguments, Environment({"ryPassword=" + password}), options);
  relay.Received();
  EXPECT_NE(environment.find("ryPassword="), std::string::npos) << "not RyMail's environment";
  EXPECT_EQ(environment.find(password), std::string::npos);
  EXPECT_NE(unprivilegedRead, 0) << "a process without privileges read RyMail's environment";
}

class TlsLibraryMapping : public ProcessTest, public ::testing::WithParamInterface<MappingMoment> {};

TEST_P(TlsLibraryMapping, PlainRunNeverLoadsIt) {
  std::promise<int> started;
  std::shared_future<int> processId = started.get_future().share();
  std::string maps;
  std::vector<RelayStep> script = AcceptingScript();
  script[GetParam().step].beforeAnswer = [&] {
    if (processId.wait_for(std::chrono::seconds(60)) != std::future_status::ready) return;
    maps = ReadWholeFile("/proc/" + std::to_string(processId.get()) + "/maps");
  };
  ScriptedRelay relay(script);
  RunOptions options;
  options.started = [&](int id) { started.set_value(id); };
  ProgramRun run = RunProgram(MailArguments(), Environment(), options);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(MaskVolatile(relay.Received()), ProcessBoundary::AcceptedWire());
  ASSERT_NE(maps.find("RyMail"), std::string::npos) << "not RyMail's own mappings:\n" << maps;
  for (const char* library : RunsUnderWine() ? std::vector<const char*>{"secur32.dll", "crypt32.dll"}
                                             : std::vector<const char*>{"/libssl.so", "/libcrypto.so"}) {
    EXPECT_EQ(maps.find(library), std::string::npos) << library << " is mapped:\n" << maps;
  }
}

INSTANTIATE_TEST_SUITE_P(Moments, TlsLibraryMapping,
                         ::testing::Values(MappingMoment{"AtTheGreeting", 0}, MappingMoment{"AtTheEndOfData", 5}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
