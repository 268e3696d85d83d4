// Addresses, networks and the gate that decides which peers a Server serves.
#include "core/peer_networks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/peer_gate.h"

namespace {

PeerAddress Address(const std::string& text) {
  PeerAddress address;
  EXPECT_TRUE(ParsePeerAddress(text, &address)) << text;
  return address;
}

AllowedNetworks Networks(const std::string& text) {
  AllowedNetworks networks;
  std::string error;
  EXPECT_TRUE(AllowedNetworks::Parse(text, &networks, &error)) << text << ": " << error;
  return networks;
}

TEST(PeerAddresses, NumericFormsParseAndPrintBackInShortForm) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"192.168.1.5", "192.168.1.5"},
      {"0.0.0.0", "0.0.0.0"},
      {"255.255.255.255", "255.255.255.255"},
      {"::", "::"},
      {"::1", "::1"},
      {"FE80:0:0:0:0:0:0:1", "fe80::1"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},  // the first of two equal runs
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"1::8", "1::8"},
      {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},  // one zero group is not written "::"
      {"::ffff:10.1.2.3", "10.1.2.3"},         // IPv4-mapped reads as IPv4
      {"64:ff9b::192.0.2.1", "64:ff9b::c000:201"},
  };
  for (const auto& [text, printed] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(PeerAddressText(Address(text)), printed);
  }
  EXPECT_TRUE(Address("10.1.2.3").IsIpv4());
  EXPECT_FALSE(Address("::1").IsIpv4());
}

TEST(PeerAddresses, NamesScopesAndMalformedTextsAreRefused) {
  for (const std::string text : {"",
                                 "localhost",
                                 "1.2.3",
                                 "1.2.3.4.5",
                                 "256.1.1.1",
                                 "01.2.3.4",
                                 "1.2.3.4 ",
                                 "1..3.4",
                                 "1:2:3:4:5:6:7:8:9",
                                 "1:2:3:4:5:6:7",
                                 "1::2::3",
                                 ":::",
                                 "12345::",
                                 "fe80::1%eth0",
                                 "::g",
                                 "1:2:3:4:5:6:7:1.2.3.4",
                                 "1.2.3.4::",
                                 "::1.2.3",
                                 ":1::",
                                 "1::2:"}) {
    PeerAddress address;
    EXPECT_FALSE(ParsePeerAddress(text, &address)) << text;
  }
}

TEST(AllowedNetworksParsing, BlocksAnyAndBadPrefixes) {
  AllowedNetworks networks = Networks(" 192.168.1.0/24 , fd00::/8,203.0.113.7");
  EXPECT_EQ(networks.Text(), "192.168.1.0/24,fd00::/8,203.0.113.7");
  EXPECT_TRUE(networks.Allows(Address("192.168.1.200")));
  EXPECT_FALSE(networks.Allows(Address("192.168.2.1")));
  EXPECT_TRUE(networks.Allows(Address("fdab::1")));
  EXPECT_FALSE(networks.Allows(Address("fc00::1")));
  EXPECT_TRUE(networks.Allows(Address("203.0.113.7")));  // an address is a block of one
  EXPECT_FALSE(networks.Allows(Address("203.0.113.8")));
  EXPECT_TRUE(networks.Allows(Address("::ffff:192.168.1.9")));  // a dual-stack peer

  // Host bits are dropped; /0 and the full lengths are blocks too.
  EXPECT_TRUE(Networks("10.9.9.9/8").Allows(Address("10.200.0.1")));
  EXPECT_TRUE(Networks("0.0.0.0/0").Allows(Address("8.8.8.8")));
  EXPECT_FALSE(Networks("0.0.0.0/0").Allows(Address("2001:db8::1")));
  EXPECT_TRUE(Networks("::/0").Allows(Address("2001:db8::1")));
  EXPECT_TRUE(Networks("2001:db8::1/128").Allows(Address("2001:db8::1")));
  EXPECT_TRUE(Networks("172.16.0.0/13").Allows(Address("172.23.255.255")));
  EXPECT_FALSE(Networks("172.16.0.0/13").Allows(Address("172.24.0.0")));

  AllowedNetworks any = Networks("any");
  EXPECT_TRUE(any.AllowsEvery());
  EXPECT_TRUE(any.Allows(Address("2001:db8::1")));
  EXPECT_EQ(any.Text(), "any");

  for (const std::string text :
       {"", ",", "10.0.0.0/8,", "10.0.0.0/33", "10.0.0.0/", "10.0.0.0/-1", "10.0.0.0/08", "::/129",
        "fd00::/8/8", "10.0.0.0/8x", "any,10.0.0.0/8", "ANY", "everyone", "example.org/24",
        "10.0.0.0 /8"}) {
    std::string error;
    AllowedNetworks kept = Networks("10.0.0.0/8");
    EXPECT_FALSE(AllowedNetworks::Parse(text, &kept, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(kept.Text(), "10.0.0.0/8") << text;  // a refused text changes nothing
  }
}

TEST(AllowedNetworksParsing, TheDefaultServesLocalNetworksOnly) {
  const AllowedNetworks local;
  EXPECT_FALSE(local.AllowsEvery());
  for (const std::string text :
       {"127.0.0.1", "127.255.0.9", "::1", "10.0.0.1", "172.16.0.1", "172.31.255.254",
        "192.168.0.10", "100.64.0.1", "100.127.255.255", "169.254.10.20", "fe80::1", "febf::ffff",
        "fc00::1", "fdff::1", "::ffff:192.168.1.50", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(local.Allows(Address(text))) << text;
  }
  for (const std::string text :
       {"8.8.8.8", "172.32.0.1", "172.15.255.255", "100.128.0.1", "192.169.0.1", "11.0.0.1",
        "2001:db8::1", "fec0::1", "fe00::1", "::", "0.0.0.0", "::ffff:8.8.8.8", "::2"}) {
    EXPECT_FALSE(local.Allows(Address(text))) << text;
  }
  // What the settings keep reads back as the same networks.
  AllowedNetworks copy = Networks(local.Text());
  EXPECT_EQ(copy.Text(), local.Text());
}

TEST(ListenAddressesParsing, ListsDuplicatesAndTheLimit) {
  std::vector<PeerAddress> addresses;
  std::string error;
  ASSERT_TRUE(ParseListenAddresses("127.0.0.1, ::1", &addresses, &error)) << error;
  ASSERT_EQ(addresses.size(), 2u);
  EXPECT_EQ(ListenAddressesText(addresses), "127.0.0.1,::1");
  EXPECT_FALSE(ParseListenAddresses("127.0.0.1,::ffff:127.0.0.1", &addresses, &error));
  EXPECT_NE(error.find("twice"), std::string::npos) << error;
  EXPECT_FALSE(ParseListenAddresses("localhost", &addresses, &error));
  EXPECT_FALSE(ParseListenAddresses("", &addresses, &error));
  std::string many;
  for (int i = 1; i <= static_cast<int>(kMostListenAddresses) + 1; ++i) {
    many += (many.empty() ? "127.0.0." : ",127.0.0.") + std::to_string(i);
  }
  EXPECT_FALSE(ParseListenAddresses(many, &addresses, &error));
  EXPECT_EQ(ListenAddressesText(addresses), "127.0.0.1,::1");  // unchanged by refusals
}

// A host knocking in a loop, and a crowd of hosts, cost a few lines a minute.
TEST(PeerGateLog, OneLinePerRefusedAddressPerMinuteAndACountForTheCrowd) {
  std::vector<std::string> lines;
  PeerGate gate(Networks("10.0.0.0/8"), [&](const std::string& line) { lines.push_back(line); });
  EXPECT_TRUE(gate.Admit(Address("10.1.1.1"), true, 0));
  for (std::uint64_t ms = 0; ms < PeerGate::kLogEveryMs; ms += 10) {
    EXPECT_FALSE(gate.Admit(Address("203.0.113.7"), true, ms));
  }
  EXPECT_EQ(lines, std::vector<std::string>{
                       "Refused a connection from 203.0.113.7 (not in the allowed networks)"});
  EXPECT_FALSE(gate.Admit(Address("203.0.113.7"), true, PeerGate::kLogEveryMs));
  EXPECT_EQ(lines.size(), 2u);  // a minute on: told again

  lines.clear();
  PeerGate crowded(Networks("10.0.0.0/8"), [&](const std::string& line) { lines.push_back(line); });
  const size_t crowd = PeerGate::kMostRemembered + 100;
  for (size_t i = 0; i < crowd; ++i) {
    PeerAddress address = Address("2001:db8::");
    address.bytes[14] = static_cast<std::uint8_t>(i >> 8);
    address.bytes[15] = static_cast<std::uint8_t>(i);
    EXPECT_FALSE(crowded.Admit(address, true, 1000 + i));
  }
  EXPECT_FALSE(crowded.Admit(PeerAddress{}, false, 1000 + crowd));  // of no known family
  EXPECT_EQ(lines.size(), PeerGate::kMostRemembered);
  // A minute on the next refusal is told, with the count of those untold.
  EXPECT_FALSE(crowded.Admit(Address("2001:db8::ffff"), true, 2000 + PeerGate::kLogEveryMs));
  ASSERT_EQ(lines.size(), PeerGate::kMostRemembered + 2);
  EXPECT_EQ(lines[lines.size() - 2],
            "Refused a connection from 2001:db8::ffff (not in the allowed networks)");
  EXPECT_EQ(lines.back(), "Refused 101 more connections from other addresses in the last minute");
}

TEST(PeerGateLog, EveryPeerIsServedWithAny) {
  std::vector<std::string> lines;
  PeerGate gate(Networks("any"), [&](const std::string& line) { lines.push_back(line); });
  EXPECT_TRUE(gate.Admit(Address("8.8.8.8"), true, 0));
  EXPECT_TRUE(gate.Admit(PeerAddress{}, false, 0));
  EXPECT_TRUE(lines.empty());
}

}  // namespace
