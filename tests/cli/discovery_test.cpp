// Servers announced and found on a network of the test's own: two network
// namespaces joined by a veth pair, each with its own message bus and mDNS
// daemon (tests/support/mdns_network.h). Nothing leaves the two.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discovery/server_watch.h"
#include "tests/cli/cli_process.h"
#include "tests/support/mdns_network.h"
#include "tests/support/pulse_environment.h"

namespace twtest {
namespace {

constexpr int kWaitMs = 15000;

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

int CountPrefixed(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.rfind(prefix, 0) == 0;
  }));
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class CliDiscovery : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { network = new MdnsNetwork(); }
  static void TearDownTestSuite() {
    delete network;
    network = nullptr;
  }
  void SetUp() override {
    if (!network->ready()) {
      ASSERT_FALSE(RunningUnderCi()) << network->failure();
      GTEST_SKIP() << network->failure();
    }
  }

  static std::unique_ptr<CliProcess> On(MdnsSide& side, const std::vector<std::string>& args) {
    return std::make_unique<CliProcess>(args, side.Launcher(), side.Environment());
  }

  // A Server on the first side, waiting for Clients.
  static std::unique_ptr<CliProcess> ServerOnFirst(const std::string& name,
                                                   const std::string& port) {
    auto server = On(network->first(), {"server", "--port", port, "--name", name});
    EXPECT_TRUE(server->WaitForOutLine("Wait for incoming...", kWaitMs));
    return server;
  }

  // `servers` with args on the second side: its lines, having checked that
  // it ended with status 0 and said nothing on stderr.
  static std::vector<std::string> ServersSeenFromSecond(const std::vector<std::string>& args) {
    std::vector<std::string> command = {"servers"};
    command.insert(command.end(), args.begin(), args.end());
    auto servers = On(network->second(), command);
    EXPECT_EQ(servers->Wait(kWaitMs), 0) << Joined(servers->ErrLines());
    EXPECT_TRUE(servers->ErrLines().empty()) << Joined(servers->ErrLines());
    return servers->OutLines();
  }

  static std::string Line(const std::string& name, const std::string& port) {
    return name + "\ttw-a.local\t" + network->first().address() + "\t" + port;
  }

  static MdnsNetwork* network;
};

MdnsNetwork* CliDiscovery::network = nullptr;

TEST_F(CliDiscovery, AServerIsListedOnTheOtherSideAndAClientReachesItByName) {
  auto server = ServerOnFirst("Kitchen speaker", "5601");
  // Listening three seconds finds it; the plain listing ends by itself
  // once the daemon has said what it knows, and finds it too.
  std::vector<std::string> listed = ServersSeenFromSecond({"--seconds", "3"});
  EXPECT_TRUE(Has(listed, Line("Kitchen speaker", "5601"))) << Joined(listed);
  listed = ServersSeenFromSecond({});
  EXPECT_EQ(listed, std::vector<std::string>{Line("Kitchen speaker", "5601")}) << Joined(listed);

  // Names are matched as DNS-SD matches them: any case.
  auto client =
      On(network->second(), {"client", "kitchen SPEAKER", "--port", "5601", "--seconds", "2"});
  EXPECT_TRUE(client->WaitForOutLine("Transmitting", kWaitMs)) << Joined(client->ErrLines());
  EXPECT_TRUE(server->WaitForOutLine("Client 44100Hz 2 channels 24576 blen", kWaitMs));
  EXPECT_EQ(client->Wait(kWaitMs), 0) << Joined(client->ErrLines());
  EXPECT_TRUE(client->ErrLines().empty()) << Joined(client->ErrLines());

  server->Signal(SIGINT);
  EXPECT_EQ(server->Wait(kWaitMs), 0);
  EXPECT_TRUE(server->ErrLines().empty()) << Joined(server->ErrLines());
  // Gone with its Server.
  listed = ServersSeenFromSecond({"--seconds", "2"});
  EXPECT_FALSE(Has(listed, Line("Kitchen speaker", "5601"))) << Joined(listed);
}

TEST_F(CliDiscovery, TheAnnouncementCarriesTheProgramsVersion) {
  auto server = ServerOnFirst("Study", "5621");
  ASSERT_TRUE(Has(ServersSeenFromSecond({"--seconds", "3"}), Line("Study", "5621")));
  CliProcess version({"--version"});
  ASSERT_EQ(version.Wait(kWaitMs), 0);
  ASSERT_EQ(version.OutLines().size(), 1u);
  const std::string expected =
      "\"version=" + version.OutLines()[0].substr(std::string("tonewire-cli ").size()) + "\"";
  // The daemon's own browser prints each resolved service with its TXT
  // record, parsable: =;interface;protocol;name;type;domain;host;address;port;txt
  std::vector<std::string> browse = network->second().Launcher();
  browse.insert(browse.end(), {"env"});
  for (const std::string& variable : network->second().Environment()) {
    if (variable.rfind("DBUS_SYSTEM_BUS_ADDRESS=", 0) == 0) {
      browse.push_back(variable);
    }
  }
  browse.insert(browse.end(), {"avahi-browse", "-p", "-r", "-t", "_tonewire._tcp"});
  bool ok = false;
  const std::string records = RunToEnd(browse, kWaitMs, &ok);
  ASSERT_TRUE(ok) << records;
  EXPECT_NE(records.find(";Study;_tonewire._tcp;local;tw-a.local;10.77.0.1;5621;" + expected),
            std::string::npos)
      << records;
}

TEST_F(CliDiscovery, ASecondServerWithTheSameNameTakesTheAlternativeNameAndSaysItOnce) {
  auto first = ServerOnFirst("Porch", "5611");
  auto second = ServerOnFirst("Porch", "5612");
  const std::string renamed =
      "Discovery: the name \"Porch\" is taken on the network; announced as \"Porch #2\"";
  const std::vector<std::string> listed = ServersSeenFromSecond({"--seconds", "3"});
  EXPECT_EQ(listed, (std::vector<std::string>{Line("Porch", "5611"), Line("Porch #2", "5612")}))
      << Joined(listed);
  EXPECT_EQ(second->ErrLines(), std::vector<std::string>{renamed});
  EXPECT_TRUE(first->ErrLines().empty()) << Joined(first->ErrLines());

  // The alternative name leads to the second Server, on the port it
  // announced.
  auto client = On(network->second(), {"client", "Porch #2", "--seconds", "1"});
  EXPECT_TRUE(second->WaitForOutLine("Got config", kWaitMs)) << Joined(client->ErrLines());
  EXPECT_EQ(client->Wait(kWaitMs), 0) << Joined(client->ErrLines());
}

TEST_F(CliDiscovery, AServerWithoutTheDaemonSaysDiscoveryIsOffOnceAndStillServes) {
  auto server = std::make_unique<CliProcess>(
      std::vector<std::string>{"server", "--port", "5631", "--name", "Attic", "--retry", "1"},
      network->first().Launcher(), MdnsSide::EnvironmentWithoutDaemon());
  ASSERT_TRUE(server->WaitForOutLine("Wait for incoming...", kWaitMs));
  for (int run = 0; run < 2; ++run) {
    auto client = On(network->second(),
                     {"client", network->first().address(), "--port", "5631", "--seconds", "1"});
    EXPECT_EQ(client->Wait(kWaitMs), 0) << Joined(client->ErrLines());
    EXPECT_TRUE(server->WaitForOutLine("Got config", kWaitMs, run + 1));
  }
  server->Signal(SIGTERM);
  EXPECT_EQ(server->Wait(kWaitMs), 0);
  const std::vector<std::string> errors = server->ErrLines();
  EXPECT_EQ(errors.size(), 1u) << Joined(errors);
  EXPECT_EQ(CountPrefixed(errors, "Discovery is off ("), 1) << Joined(errors);
  EXPECT_FALSE(Has(ServersSeenFromSecond({"--seconds", "1"}), Line("Attic", "5631")));

  auto servers = std::make_unique<CliProcess>(std::vector<std::string>{"servers"},
                                              network->second().Launcher(),
                                              MdnsSide::EnvironmentWithoutDaemon());
  EXPECT_EQ(servers->Wait(kWaitMs), 1);
  EXPECT_TRUE(servers->OutLines().empty());
  EXPECT_EQ(CountPrefixed(servers->ErrLines(), "tonewire-cli: discovery is off ("), 1)
      << Joined(servers->ErrLines());
}

// The watch behind the desktop window's host field, in this process: it
// reaches the second side's daemon through that side's bus (the bus is a
// local socket; the daemon does the network's part).
TEST_F(CliDiscovery, TheWatchFollowsServersComingAndGoing) {
  std::string bus;
  for (const std::string& variable : network->second().Environment()) {
    if (variable.rfind("DBUS_SYSTEM_BUS_ADDRESS=", 0) == 0) {
      bus = variable.substr(variable.find('=') + 1);
    }
  }
  ASSERT_FALSE(bus.empty());
  ASSERT_EQ(setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1), 0);
  struct BusForgotten {
    ~BusForgotten() { unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }
  } forgotten;
  auto watched = [](twdisc::ServerWatch& watch, bool wanted) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::vector<std::string> names = watch.Names();
      if (Has(names, "Den") == wanted) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  };
  twdisc::ServerWatch watch;
  auto server = ServerOnFirst("Den", "5651");
  EXPECT_TRUE(watched(watch, true)) << Joined(watch.Names());
  server->Signal(SIGINT);
  EXPECT_EQ(server->Wait(kWaitMs), 0);
  EXPECT_TRUE(watched(watch, false)) << Joined(watch.Names());
}

TEST_F(CliDiscovery, ANameNobodyAnnouncesIsALookupError) {
  auto client = On(network->second(), {"client", "Nobody here", "--port", "5641"});
  EXPECT_EQ(client->Wait(kWaitMs), 1);
  ASSERT_EQ(client->ErrLines().size(), 1u) << Joined(client->ErrLines());
  const std::string box = client->ErrLines()[0];
  EXPECT_TRUE(box.rfind("Error 0x2af9 in Connect: ", 0) == 0 ||
              box.rfind("Error 0x2afa in Connect: ", 0) == 0)
      << box;
}

}  // namespace
}  // namespace twtest
