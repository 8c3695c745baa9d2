// Reaching the relay at whichever of its addresses answers: names with
// several addresses from a private hosts file, addresses that refuse or never
// answer, IPv6 when asked or given, and the settings that choose them.
#include <chrono>

#include "process/process_fixture.h"

namespace {

// The resolver of every run here: the private hosts file only, and glibc's
// default order of the families pinned, whatever the machine's own says.
constexpr char kFilesOnly[] = "hosts: files\n";
constexpr char kDefaultPrecedence[] =
    "precedence ::1/128 50\nprecedence ::/0 40\nprecedence 2002::/16 30\nprecedence ::/96 20\n"
    "precedence ::ffff:0:0/96 10\n";
// localhost stays as it is: the Message-ID's host part comes from it.
constexpr char kLocalhost[] = "127.0.0.1 localhost\n";
// Two IPv4 addresses in the order glibc keeps (it puts 127.0.0.1 first, the source of every loopback connect).
constexpr char kTwoAddresses[] = "127.0.0.1 relay.test\n127.0.0.2 relay.test\n";

struct Route {
  const char* name;
  const char* hosts;                     // relay.test's addresses
  std::vector<std::string> extra;        // arguments after the usual ones
  std::vector<std::string> environment;  // variables beside the usual ones
  const char* gateway;
  const char* relayAt;              // where the relay listens, or "" for nowhere
  std::vector<std::string> silent;  // addresses that never answer
  const char* records;  // the debug file's records after "Valid Socket Found" up to the greeting, or to the end
  int sysexits;
  const char* address;  // the result's address and detail, as text
  const char* detail;   // "<any>": the resolver's words
};

const Route kRoutes[] = {
    {"OneAddressAsBefore", "127.0.0.2 relay.test\n", {}, {}, "relay.test", "127.0.0.2", {},
     "-RyMail-Info, Got hostbyname [relay.test]\r\n-RyMail-Info, Found smtp Service\r\n", 0, "127.0.0.2", "null"},
    {"SilentFirstAddressThenTheNext", kTwoAddresses, {}, {}, "relay.test", "127.0.0.2", {"127.0.0.1"},
     "-RyMail-Info, Got hostbyname [relay.test]\r\n-RyMail-Info, Found smtp Service\r\n"
     "-RyMail-Info, Trying 127.0.0.2 port 25\r\n",
     0, "127.0.0.2", "null"},
    {"RefusedFirstAddressThenTheNextAtOnce", kTwoAddresses, {}, {}, "relay.test", "127.0.0.2", {},
     "-RyMail-Info, Got hostbyname [relay.test]\r\n-RyMail-Info, Found smtp Service\r\n"
     "-RyMail-Info, Connection to 127.0.0.1 port 25 failed: Connection refused\r\n"
     "-RyMail-Info, Trying 127.0.0.2 port 25\r\n",
     0, "127.0.0.2", "null"},
    {"AllSilentEndAtTheConnectBound", kTwoAddresses, {}, {"ryConnectTimeout=1"}, "relay.test", "",
     {"127.0.0.1", "127.0.0.2"},
     "-RyMail-Info, Got hostbyname [relay.test]\r\n-RyMail-Info, Found smtp Service\r\n"
     "-RyMail-Info, Trying 127.0.0.2 port 25\r\n"
     "-RyMail-Info, Connection to 127.0.0.1 port 25 failed: Connection timed out\r\n"
     "-RyMail-Info, Connection to 127.0.0.2 port 25 failed: Connection timed out\r\n"
     "-RyMail-FAIL, Failed to connect to relay.test\r\n-RyMail-FAIL, Failed to send the mail.\r\n",
     75, "null", "127.0.0.1 port 25: Connection timed out; 127.0.0.2 port 25: Connection timed out"},
    {"Ipv6Only", "127.0.0.2 relay.test\n::1 relay.test\n", {}, {"ryIp=6"}, "relay.test", "::1", {},
     "-RyMail-Info, Got hostbyname [relay.test]\r\n-RyMail-Info, Found smtp Service\r\n", 0, "::1", "null"},
    {"AnyWithASilentIpv6First", "::1 relay.test\n127.0.0.2 relay.test\n", {"--ip", "any"}, {"ryIp=6"}, "relay.test",
     "127.0.0.2", {"::1"},
     "-RyMail-Info, Got hostbyname [relay.test]\r\n-RyMail-Info, Found smtp Service\r\n"
     "-RyMail-Info, Trying 127.0.0.2 port 25\r\n",
     0, "127.0.0.2", "null"},
    {"NoIpv6AddressIsNoHost", "127.0.0.2 relay.test\n", {"--ip", "6"}, {}, "relay.test", "", {},
     "-RyMail-Info, Host relay.test is NULL\r\n-RyMail-FAIL, Failed to send the mail.\r\n", 68, "null", "<any>"},
    {"Ipv6AddressInBrackets", "", {}, {}, "[::1]", "::1", {},
     "-RyMail-Info, Got hostbyname [::1]\r\n-RyMail-Info, Found smtp Service\r\n", 0, "::1", "null"},
    {"Ipv6AddressWithoutBrackets", "", {}, {}, "0:0:0:0:0:0:0:1", "::1", {},
     "-RyMail-Info, Got hostbyname [0:0:0:0:0:0:0:1]\r\n-RyMail-Info, Found smtp Service\r\n", 0, "::1", "null"},
    {"Ipv4AddressWhateverTheFamily", "", {"--ip", "6"}, {}, "127.0.0.2", "127.0.0.2", {},
     "-RyMail-Info, Got hostbyname [127.0.0.2]\r\n-RyMail-Info, Found smtp Service\r\n", 0, "127.0.0.2", "null"},
};

void PrintTo(const Route& route, std::ostream* out) { *out << route.name; }

class Connect : public ProcessTest, public ::testing::WithParamInterface<Route> {};

TEST_P(Connect, ReachesTheRelayWhereItAnswers) {
  const Route& route = GetParam();
  std::vector<std::unique_ptr<SilentAddress>> silent;
  for (const std::string& address : route.silent) {
    silent.push_back(std::make_unique<SilentAddress>(address));
    ASSERT_TRUE(silent.back()->Ready()) << address;
  }
  std::unique_ptr<ScriptedRelay> relay;
  if (*route.relayAt) {
    relay = std::make_unique<ScriptedRelay>(AcceptingScript(), std::string(route.relayAt));
    ASSERT_TRUE(relay->Listening()) << route.relayAt;
  }
  std::string log = dir_.path() + "/debug.log";
  std::string result = dir_.path() + "/result.json";
  std::vector<std::string> arguments = MailArguments();
  arguments[5] = route.gateway;
  arguments.insert(arguments.end(), {"-d", log, "--result-file", result});
  arguments.insert(arguments.end(), route.extra.begin(), route.extra.end());
  std::vector<std::string> environment = Environment(route.environment);
  environment.push_back("ryExitCodes=sysexits");
  RunOptions options;
  options.replacedFiles = {{"/etc/hosts", dir_.Write("hosts", std::string(kLocalhost) + route.hosts)},
                           {"/etc/nsswitch.conf", dir_.Write("nsswitch.conf", kFilesOnly)},
                           {"/etc/gai.conf", dir_.Write("gai.conf", kDefaultPrecedence)}};

  auto begun = std::chrono::steady_clock::now();
  ProgramRun run = RunProgram(arguments, environment, options);
  // Not a timing test: a ceiling that only a missing stagger or bound would reach.
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(15));

  EXPECT_EQ(run.status, route.sysexits) << run.output;
  EXPECT_EQ(run.errors, "");
  std::string debug = MaskVolatile(ReadWholeFile(log));
  std::size_t from = debug.find("Valid Socket Found\r\n");
  ASSERT_NE(from, std::string::npos) << debug;
  from += std::string("Valid Socket Found\r\n").size();
  std::size_t to = debug.find("-RyMail-Info, Received 220");
  std::string delivered =
      route.sysexits == 0 ? "-RyMail-Info, Connection to " + std::string(route.gateway) + " established.\r\n" : "";
  EXPECT_EQ(debug.substr(from, to == std::string::npos ? to : to - from), route.records + delivered);
  std::map<std::string, std::string> line = ParseJsonLine(ReadWholeFile(result));
  EXPECT_EQ(line["relay"], route.gateway);
  EXPECT_EQ(line["address"], route.address);
  if (std::string(route.detail) == "<any>") {
    EXPECT_NE(line["detail"], "null");
  } else {
    EXPECT_EQ(line["detail"], route.detail);
  }
  if (route.sysexits == 0) {
    EXPECT_EQ(run.output, "-RyMail-Info, Initializing Debug File [" + log + "]\r\n" + kSentLine);
    EXPECT_EQ(MaskVolatile(relay->Received()),
              EnvelopeAndHeaders() + "Hello,\r\nthis is the body.\r\n\r\n.\r\nQUIT\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Routes, Connect, ::testing::ValuesIn(kRoutes),
                         [](const ::testing::TestParamInfo<Route>& info) { return std::string(info.param.name); });

class ConnectSettings : public ProcessTest {};

TEST_F(ConnectSettings, InvalidValuesAreRefusedBeforeAnyNetworkActivity) {
  struct Case {
    std::vector<std::string> extra;
    std::vector<std::string> environment;
    std::string failure;
  } cases[] = {
      {{"--ip", "5"}, {}, "The Ip value must be 4, 6 or any."},
      {{"--ip", "ipv6"}, {}, "The Ip value must be 4, 6 or any."},
      {{}, {"RYIP=Any"}, "The Ip value must be 4, 6 or any."},
      {{"--connect-timeout", "0"}, {}, "The ConnectTimeout value must be a number of seconds from 1 to 600."},
      {{"--connect-timeout", "601"}, {}, "The ConnectTimeout value must be a number of seconds from 1 to 600."},
      {{"--connect-timeout", "1.5"}, {}, "The ConnectTimeout value must be a number of seconds from 1 to 600."},
      {{"--connect-timeout", "99999999999999999999"}, {},
       "The ConnectTimeout value must be a number of seconds from 1 to 600."},
      {{}, {"ryConnectTimeout=-1"}, "The ConnectTimeout value must be a number of seconds from 1 to 600."},
      {{"--ip"}, {}, "Missing Ip after --ip"},
      {{"--connect-timeout"}, {}, "Missing ConnectTimeout after --connect-timeout"},
  };
  // Nothing listens: a run that got as far as the network would fail otherwise.
  for (const Case& c : cases) {
    std::vector<std::string> arguments = MailArguments();
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    for (bool sysexits : {false, true}) {
      std::vector<std::string> environment = Environment(c.environment);
      if (sysexits) environment.push_back("ryExitCodes=sysexits");
      ProgramRun run = RunProgram(arguments, environment);
      EXPECT_EQ(run.status, sysexits ? 64 : 1) << c.failure;
      EXPECT_EQ(run.output, "\r\n-RyMail-FAIL, " + c.failure + "\r\n\r\n");
    }
  }
}

}  // namespace
