// The schedule of the connection attempts over a scripted network and a
// scripted clock: which attempt starts when, what is recorded, who wins, and
// that every other socket is closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/connect_attempts.h"

namespace {

using platform::SocketAddress;
using platform::SocketHandle;

constexpr int kRefused = 111;
constexpr int kNoFamily = 97;
constexpr SocketHandle kFirstSocket = 7;  // the IPv4 socket made before the lookup

// What an address does with a connect.
struct Peer {
  enum Kind { kConnects, kRefuses, kSilent, kNoSocket };
  const char* text;
  Kind kind;
  int afterMs = 0;  // when it connects or refuses; 0: at once
  bool ipv6 = false;
};

SocketAddress AddressOf(const std::string& text, bool ipv6) {
  SocketAddress address;
  address.ipv6 = ipv6;
  address.text = text;
  address.length = text.size() < platform::kSocketAddressCapacity ? text.size() : platform::kSocketAddressCapacity;
  for (std::size_t i = 0; i < address.length; ++i) address.bytes[i] = static_cast<unsigned char>(text[i]);
  return address;
}

// The peers behind the operations, a clock that moves only when waited on,
// and every record with the millisecond it was made at.
class ScriptedNetwork {
 public:
  explicit ScriptedNetwork(const std::vector<Peer>& peers) : peers_(peers) {}

  platform::AttemptOps Ops() {
    platform::AttemptOps ops;
    ops.open = [this](bool ipv6, int& error) -> SocketHandle {
      for (const Peer& peer : peers_) {
        if (peer.ipv6 == ipv6 && peer.kind == Peer::kNoSocket) {
          error = kNoFamily;
          return platform::kNoSocket;
        }
      }
      open_.insert(nextSocket_);
      return nextSocket_++;
    };
    ops.prepare = [](SocketHandle, int&) { return true; };
    ops.start = [this](SocketHandle socket, const SocketAddress& address, std::uint16_t port, int& error) {
      EXPECT_EQ(port, platform::PortInNetworkOrder(25));
      const Peer& peer = PeerAt(address.text);
      started_[socket] = {&peer, elapsedMs_};
      if (peer.afterMs > 0 || peer.kind == Peer::kSilent) return platform::StartStatus::kInProgress;
      if (peer.kind == Peer::kConnects) return platform::StartStatus::kConnected;
      error = kRefused;
      return platform::StartStatus::kFailed;
    };
    ops.wait = [this](const std::vector<SocketHandle>& sockets, std::vector<bool>& finished, int timeoutMs) {
      EXPECT_FALSE(sockets.empty());
      int wake = elapsedMs_ + timeoutMs;
      for (SocketHandle socket : sockets) wake = std::min(wake, EndOf(socket));
      elapsedMs_ = wake;
      for (std::size_t i = 0; i < sockets.size(); ++i) finished[i] = EndOf(sockets[i]) <= elapsedMs_;
    };
    ops.outcome = [this](SocketHandle socket) {
      return started_.at(socket).peer->kind == Peer::kConnects ? 0 : kRefused;
    };
    ops.finish = [this](SocketHandle socket) { finished_ = socket; };
    ops.close = [this](SocketHandle socket) {
      EXPECT_EQ(open_.erase(socket), 1u) << "closed twice or never opened: " << socket;
    };
    ops.errorText = [](int error) {
      return error == kRefused ? std::string("Connection refused") : "Address family not supported by protocol";
    };
    ops.now = [this] { return platform::Clock::time_point() + std::chrono::milliseconds(elapsedMs_); };
    return ops;
  }

  std::function<void(const std::string&)> Note() {
    return [this](const std::string& text) { notes_.push_back(std::to_string(elapsedMs_) + " " + text); };
  }

  std::set<SocketHandle> open_{kFirstSocket};
  std::vector<std::string> notes_;
  int elapsedMs_ = 0;
  SocketHandle finished_ = platform::kNoSocket;

 private:
  struct Started {
    const Peer* peer;
    int atMs;
  };
  const Peer& PeerAt(const std::string& text) const {
    for (const Peer& peer : peers_) {
      if (text == peer.text) return peer;
    }
    ADD_FAILURE() << "no such peer " << text;
    return peers_.front();
  }
  int EndOf(SocketHandle socket) const {
    const Started& started = started_.at(socket);
    return started.peer->kind == Peer::kSilent ? 1 << 30 : started.atMs + started.peer->afterMs;
  }

  std::vector<Peer> peers_;
  std::map<SocketHandle, Started> started_;
  SocketHandle nextSocket_ = 100;
};

struct Schedule {
  const char* name;
  std::vector<Peer> peers;
  int attemptMs;
  std::vector<std::string> notes;  // each with the millisecond it was made at
  const char* winner;              // "" when every attempt failed
  bool onFirstSocket;              // the winner is the socket made before the lookup
  int endMs;
  const char* failures;
};

const Peer::Kind C = Peer::kConnects, R = Peer::kRefuses, S = Peer::kSilent, N = Peer::kNoSocket;

const Schedule kSchedules[] = {
    {"OneAddressConnectsWithoutARecord", {{"192.0.2.1", C, 5}}, 30000, {}, "192.0.2.1", true, 5, ""},
    {"ConnectedAtOnce", {{"192.0.2.1", C}}, 30000, {}, "192.0.2.1", true, 0, ""},
    {"DeadFirstThenTheNextAfterTheStagger", {{"192.0.2.1", S}, {"192.0.2.2", C, 1}}, 30000,
     {"250 Trying 192.0.2.2 port 25"}, "192.0.2.2", false, 251, ""},
    {"RefusedFirstStartsTheNextAtOnce", {{"192.0.2.1", R}, {"192.0.2.2", C, 1}}, 30000,
     {"0 Connection to 192.0.2.1 port 25 failed: Connection refused", "0 Trying 192.0.2.2 port 25"}, "192.0.2.2", false,
     1, ""},
    {"LateRefusalStartsTheNextAtOnce", {{"192.0.2.1", R, 100}, {"192.0.2.2", C, 1}}, 30000,
     {"100 Connection to 192.0.2.1 port 25 failed: Connection refused", "100 Trying 192.0.2.2 port 25"}, "192.0.2.2",
     false, 101, ""},
    {"AllDeadEndAtTheBoundOfTheLast", {{"192.0.2.1", S}, {"192.0.2.2", S}}, 1000,
     {"250 Trying 192.0.2.2 port 25", "1000 Connection to 192.0.2.1 port 25 failed: Connection timed out",
      "1250 Connection to 192.0.2.2 port 25 failed: Connection timed out"},
     "", false, 1250,
     "192.0.2.1 port 25: Connection timed out; 192.0.2.2 port 25: Connection timed out"},
    {"TheFirstStillWinsWhenItConnectsFirst", {{"192.0.2.1", C, 300}, {"192.0.2.2", C, 100}}, 30000,
     {"250 Trying 192.0.2.2 port 25"}, "192.0.2.1", true, 300, ""},
    {"ALaterAttemptOvertakes", {{"192.0.2.1", C, 400}, {"192.0.2.2", C, 50}}, 30000,
     {"250 Trying 192.0.2.2 port 25"}, "192.0.2.2", false, 300, ""},
    {"EachFurtherAttemptAfterAnotherStagger", {{"192.0.2.1", S}, {"192.0.2.2", S}, {"192.0.2.3", C}}, 30000,
     {"250 Trying 192.0.2.2 port 25", "500 Trying 192.0.2.3 port 25"}, "192.0.2.3", false, 500, ""},
    {"ATimeoutStartsTheNextAtOnce", {{"192.0.2.1", S}, {"192.0.2.2", S}, {"192.0.2.3", C, 1}}, 300,
     {"250 Trying 192.0.2.2 port 25", "300 Connection to 192.0.2.1 port 25 failed: Connection timed out",
      "300 Trying 192.0.2.3 port 25"},
     "192.0.2.3", false, 301, ""},
    {"AnIpv6FirstGetsASocketOfItsOwn", {{"2001:db8::1", C, 1, true}}, 30000, {}, "2001:db8::1", false, 1, ""},
    {"NoSocketForTheFamilyStartsTheNextAtOnce", {{"2001:db8::1", N, 0, true}, {"192.0.2.2", C, 1}}, 30000,
     {"0 Connection to 2001:db8::1 port 25 failed: Address family not supported by protocol",
      "0 Trying 192.0.2.2 port 25"},
     "192.0.2.2", false, 1, ""},
    {"NoAddressesAtAll", {}, 30000, {}, "", false, 0, ""},
};

void PrintTo(const Schedule& schedule, std::ostream* out) { *out << schedule.name; }

class ConnectAttempts : public ::testing::TestWithParam<Schedule> {};

TEST_P(ConnectAttempts, FollowTheSchedule) {
  const Schedule& schedule = GetParam();
  std::vector<SocketAddress> addresses;
  for (const Peer& peer : schedule.peers) addresses.push_back(AddressOf(peer.text, peer.ipv6));
  ScriptedNetwork network(schedule.peers);
  platform::ConnectTiming timing;
  timing.attemptMs = schedule.attemptMs;
  platform::RelayConnection result = platform::RunAttempts(addresses, platform::PortInNetworkOrder(25), kFirstSocket,
                                                           timing, network.Ops(), network.Note());
  EXPECT_EQ(network.notes_, schedule.notes);
  EXPECT_EQ(result.address, schedule.winner);
  EXPECT_EQ(network.elapsedMs_, schedule.endMs);
  EXPECT_EQ(result.failures, schedule.failures);
  bool connected = *schedule.winner != '\0';
  EXPECT_EQ(result.socket != platform::kNoSocket, connected);
  EXPECT_EQ(connected && result.socket == kFirstSocket, schedule.onFirstSocket);
  EXPECT_EQ(network.finished_, result.socket) << "the winner, and only it, is set up for the delivery";
  std::set<SocketHandle> left = connected ? std::set<SocketHandle>{result.socket} : std::set<SocketHandle>{};
  EXPECT_EQ(network.open_, left) << "every other socket is closed";
}

INSTANTIATE_TEST_SUITE_P(Schedules, ConnectAttempts, ::testing::ValuesIn(kSchedules),
                         [](const ::testing::TestParamInfo<Schedule>& info) { return std::string(info.param.name); });

struct Arrangement {
  const char* name;
  std::vector<std::pair<const char*, bool>> resolved;  // text, IPv6
  bool interleave;
  std::vector<std::string> tried;
};

const Arrangement kArrangements[] = {
    {"OneFamilyKeepsTheResolversOrder", {{"192.0.2.3", false}, {"192.0.2.1", false}}, false,
     {"192.0.2.3", "192.0.2.1"}},
    {"DuplicatesAreTriedOnce", {{"192.0.2.1", false}, {"192.0.2.2", false}, {"192.0.2.1", false}}, false,
     {"192.0.2.1", "192.0.2.2"}},
    {"AnyTakesTurnsFromTheFirstFamily",
     {{"2001:db8::1", true}, {"2001:db8::2", true}, {"2001:db8::3", true}, {"192.0.2.1", false}, {"192.0.2.2", false}},
     true,
     {"2001:db8::1", "192.0.2.1", "2001:db8::2", "192.0.2.2", "2001:db8::3"}},
    {"AnyStartingWithIpv4", {{"192.0.2.1", false}, {"192.0.2.2", false}, {"2001:db8::1", true}}, true,
     {"192.0.2.1", "2001:db8::1", "192.0.2.2"}},
    {"Nothing", {}, true, {}},
};

void PrintTo(const Arrangement& arrangement, std::ostream* out) { *out << arrangement.name; }

class AddressOrder : public ::testing::TestWithParam<Arrangement> {};

TEST_P(AddressOrder, IsTheOrderOfTheAttempts) {
  std::vector<SocketAddress> resolved;
  for (const auto& [text, ipv6] : GetParam().resolved) resolved.push_back(AddressOf(text, ipv6));
  std::vector<std::string> tried;
  for (const SocketAddress& address : platform::ArrangeAddresses(resolved, GetParam().interleave)) {
    tried.push_back(address.text);
  }
  EXPECT_EQ(tried, GetParam().tried);
}

TEST(AddressOrder, AtMostTheCapacity) {
  std::vector<SocketAddress> resolved;
  for (std::size_t i = 0; i < platform::kMaxAddresses + 5; ++i) resolved.push_back(AddressOf(std::to_string(i), false));
  EXPECT_EQ(platform::ArrangeAddresses(resolved, false).size(), platform::kMaxAddresses);
}

INSTANTIATE_TEST_SUITE_P(Arrangements, AddressOrder, ::testing::ValuesIn(kArrangements),
                         [](const ::testing::TestParamInfo<Arrangement>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
