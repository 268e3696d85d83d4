// The link emulator the network tests and benchmarks run through: real
// loopback connections on both sides of it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/link_relay.h"
#include "tests/support/loopback_peer.h"

namespace {

namespace peer = twtest::peer;
using twtest::LinkProfile;
using twtest::LinkRelay;

// A relay in front of a listener of the test's own, and both ends of one
// connection through it.
struct RelayedConnection {
  explicit RelayedConnection(const LinkProfile& profile, std::uint64_t seed = 1)
      : listener(peer::Listen(&targetPort)), relay(profile, targetPort, seed) {
    if (listener >= 0 && relay.Start()) {
      client = peer::Connect(relay.port());
      server = peer::Accept(listener, 3000);
    }
  }
  ~RelayedConnection() {
    peer::Close(client);
    peer::Close(server);
    peer::Close(listener);
  }
  RelayedConnection(const RelayedConnection&) = delete;
  RelayedConnection& operator=(const RelayedConnection&) = delete;

  bool connected() const { return client >= 0 && server >= 0; }

  int targetPort = -1;
  int listener;
  LinkRelay relay;
  int client = -1;
  int server = -1;
};

// Everything that arrives at fd within timeoutMs of the last byte.
std::vector<unsigned char> ReceiveAll(int fd, size_t expected, int timeoutMs) {
  std::vector<unsigned char> got(expected);
  size_t have = 0;
  while (have < expected) {
    const long count = peer::Receive(fd, got.data() + have, expected - have, timeoutMs);
    if (count <= 0) {
      break;
    }
    have += static_cast<size_t>(count);
  }
  got.resize(have);
  return got;
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Jitter is random per piece, but the bytes come out in the order they went
// in, after at least the base delay, and the end of stream follows them.
TEST(LinkRelay, DeliversEveryByteInOrderAfterTheBaseDelay) {
  RelayedConnection link({"jittery", 30, 20, {}, {}}, 7);
  ASSERT_TRUE(link.connected());
  std::vector<unsigned char> sent;
  const auto start = std::chrono::steady_clock::now();
  for (int piece = 0; piece < 200; ++piece) {
    std::vector<unsigned char> bytes(37 + piece % 11, static_cast<unsigned char>(piece));
    ASSERT_TRUE(peer::SendAll(link.client, bytes.data(), bytes.size()));
    sent.insert(sent.end(), bytes.begin(), bytes.end());
  }
  unsigned char first = 0;
  ASSERT_EQ(peer::Receive(link.server, &first, 1, 3000), 1);
  EXPECT_GE(MsSince(start), 30.0) << "not before the base delay";
  peer::ShutdownSend(link.client);
  std::vector<unsigned char> got = ReceiveAll(link.server, sent.size() - 1, 3000);
  got.insert(got.begin(), first);
  EXPECT_EQ(got, sent);
  unsigned char after = 0;
  EXPECT_EQ(peer::Receive(link.server, &after, 1, 3000), 0) << "the end of stream follows";
  EXPECT_EQ(link.relay.DeliveredBytes(), sent.size());
}

// A spike holds everything, then what waited drains in order; a cut passes
// nothing in either direction until the link is back.
TEST(LinkRelay, AHoldDelaysAndACutPassesNothingEitherWay) {
  RelayedConnection link({"plain", 0.1, 0, {}, {}});
  ASSERT_TRUE(link.connected());
  const std::string before = "before";
  const std::string held = "held";
  ASSERT_TRUE(peer::SendAll(link.client, before.data(), before.size()));
  EXPECT_EQ(ReceiveAll(link.server, before.size(), 2000).size(), before.size());

  link.relay.HoldFor(400);
  ASSERT_TRUE(peer::SendAll(link.client, held.data(), held.size()));
  unsigned char byte = 0;
  EXPECT_EQ(peer::Receive(link.server, &byte, 1, 250), -1) << "nothing during the hold";
  EXPECT_EQ(ReceiveAll(link.server, held.size(), 3000).size(), held.size()) << "then all of it";

  link.relay.CutFor(400);
  ASSERT_TRUE(peer::SendAll(link.client, "up", 2));
  ASSERT_TRUE(peer::SendAll(link.server, "down", 4));
  EXPECT_EQ(peer::Receive(link.server, &byte, 1, 250), -1);
  EXPECT_EQ(peer::Receive(link.client, &byte, 1, 10), -1);
  EXPECT_EQ(ReceiveAll(link.server, 2, 3000).size(), 2u);
  EXPECT_EQ(ReceiveAll(link.client, 4, 3000).size(), 4u);
}

// The profiles' spikes recur from the connection's start; a scheduled hold
// stops delivery like a requested one.
TEST(LinkRelay, ProfilesScheduleTheirSpikesFromTheConnectionsStart) {
  LinkProfile loaded;
  ASSERT_TRUE(twtest::FindLinkProfile("wifi-loaded", &loaded));
  const std::vector<twtest::LinkEvent> stops = twtest::StopsWithin(loaded, 61);
  ASSERT_EQ(stops.size(), 7u);  // every 10 s, and the long one at 60 s
  EXPECT_EQ(stops.front().periodMs, 10000);
  EXPECT_EQ(stops.back().periodMs, 60000);
  LinkProfile outage;
  ASSERT_TRUE(twtest::FindLinkProfile("outage", &outage));
  EXPECT_EQ(twtest::StopsWithin(outage, 121).size(), 4u);  // three spikes and the cut
  EXPECT_FALSE(twtest::FindLinkProfile("lossy", &outage));

  RelayedConnection link({"spiky", 0.1, 0, {{500, 250}}, {}});
  ASSERT_TRUE(link.connected());
  const auto start = std::chrono::steady_clock::now();
  unsigned char byte = 1;
  std::vector<double> arrivals;
  while (MsSince(start) < 900) {
    ASSERT_TRUE(peer::SendAll(link.client, &byte, 1));
    if (peer::Receive(link.server, &byte, 1, 2000) == 1) {
      arrivals.push_back(MsSince(start));
    }
  }
  double longest = 0;
  for (size_t i = 1; i < arrivals.size(); ++i) {
    longest = std::max(longest, arrivals[i] - arrivals[i - 1]);
  }
  EXPECT_GE(longest, 200.0) << "the 250 ms spike from 500 ms on";
}

}  // namespace
