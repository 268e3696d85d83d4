// tonewire-cli as its user runs it: separate processes on 127.0.0.1 with the
// built-in sound devices, read through pipes.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/support/config_home.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/pulse_environment.h"

namespace twtest {
namespace {

constexpr int kWaitMs = 15000;

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& each : lines) {
    if (each == line) {
      return true;
    }
  }
  return false;
}

// A repeated status text is printed once.
void ExpectNoLineTwiceInARow(const std::vector<std::string>& lines) {
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_NE(lines[i], lines[i - 1]) << "line " << i;
  }
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

// A usage error is one line on stderr naming the option (when given), and
// the window never opens.
void ExpectOneUsageLine(CliProcess& cli, const std::string& option) {
  const std::vector<std::string> err = cli.ErrLines();
  ASSERT_EQ(err.size(), 1u) << Joined(err);
  EXPECT_EQ(err[0].rfind("tonewire-cli: " + option, 0), 0u) << err[0];
  EXPECT_TRUE(cli.OutLines().empty()) << Joined(cli.OutLines());
}

TEST(CliArguments, HelpPrintsTheUsageAndSucceeds) {
  CliProcess cli({"--help"});
  EXPECT_EQ(cli.Wait(kWaitMs), 0);
  ASSERT_FALSE(cli.OutLines().empty());
  EXPECT_EQ(cli.OutLines()[0], "Usage:");
}

TEST(CliArguments, VersionPrintsTheProgramAndItsVersion) {
  CliProcess cli({"server", "--version"});
  EXPECT_EQ(cli.Wait(kWaitMs), 0);
  ASSERT_EQ(cli.OutLines().size(), 1u);
  EXPECT_EQ(cli.OutLines()[0].rfind("tonewire-cli ", 0), 0u) << cli.OutLines()[0];
  EXPECT_GT(cli.OutLines()[0].size(), std::string("tonewire-cli ").size());
}

TEST(CliArguments, BadArgumentsGiveTheUsageAndStatus2) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"play"},
      {"devices"},
      {"devices", "speakers"},
      {"client"},
      {"client", "--port", "5567"},
      {"server", "--port"},
      {"server", "--volume", "3"},
      {"server", "--volume", "-51"},
      {"client", "127.0.0.1", "--volume", "-5"},
      {"server", "--seconds", "0"},
      {"server", "--frobnicate", "1"},
      {"server", "extra"},
      {"server", "--retry", "0"},
      {"client", "127.0.0.1", "--retry", "soon"},
      {"server", "-x"},
      {"server", "--name", ""},
      {"server", "--name", std::string(64, 'n')},
      {"client", "127.0.0.1", "--name", "Kitchen"},
      {"servers", "--port", "5567"},
      {"servers", "--seconds", "0"},
      {"servers", "extra"},
      {"client", "127.0.0.1", "--allow", "any"},
      {"client", "127.0.0.1", "--listen", "127.0.0.1"},
      {"server", "--latency", "9"},
      {"server", "--latency", "1401"},
      {"server", "--latency", "fast"},
      {"client", "127.0.0.1", "--latency", "auto"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(Joined(args));
    CliProcess cli(args);
    EXPECT_EQ(cli.Wait(kWaitMs), 2);
    ExpectOneUsageLine(cli, "");
  }
}

// Values the window or the clock cannot honour are refused before the
// window opens, naming the option.
TEST(CliArguments, OutOfRangePortsAndDurationsNameTheOption) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"server", "--port", "0x4722"}, "--port"},  // the field would keep 04722
      {{"server", "--port", "0"}, "--port"},
      {{"server", "--port=65536"}, "--port"},
      {{"server", "--port", "-1"}, "--port"},
      {{"server", "--port", "+80"}, "--port"},
      {{"server", "--port", "000005567"}, "--port"},
      {{"client", "127.0.0.1", "--retry", "1e10"}, "--retry"},  // once cast to nanoseconds
      {{"client", "127.0.0.1", "--retry", "86400.5"}, "--retry"},
      {{"server", "--seconds", "1e400"}, "--seconds"},
      {{"server", "--seconds", "inf"}, "--seconds"},
      {{"server", "--seconds", "nan"}, "--seconds"},
      {{"server", "--seconds", "0x10"}, "--seconds"},
      {{"server", "--retry", "-2"}, "--retry"},
      {{"server", "--retry", "1e-400"}, "--retry"},  // underflows to 0
      {{"server", "--allow", "10.0.0.0/33"}, "--allow"},
      {{"server", "--allow", "192.168.1.0/24,"}, "--allow"},
      {{"server", "--allow", "everyone"}, "--allow"},
      {{"server", "--listen", "localhost"}, "--listen"},
      {{"server", "--listen", "127.0.0.1", "--listen", "::ffff:127.0.0.1"}, "--listen"},
  };
  for (const auto& [args, option] : cases) {
    SCOPED_TRACE(Joined(args));
    CliProcess cli(args);
    EXPECT_EQ(cli.Wait(kWaitMs), 2);
    ExpectOneUsageLine(cli, option);
  }
}

// A day is the longest pause, and it is waited out, not skipped.
TEST(CliArguments, ADayIsTheLongestPauseAndIsKept) {
  CliProcess cli({"client", "127.0.0.1", "--port", std::to_string(peer::ClosedPort()), "--retry",
                  "86400", "--seconds", "1.5"});
  EXPECT_EQ(cli.Wait(kWaitMs), 0);
  int retries = 0;
  for (const std::string& line : cli.ErrLines()) {
    if (line.rfind("tonewire-cli: pressing Start again in ", 0) == 0) {
      ++retries;
      EXPECT_EQ(line, "tonewire-cli: pressing Start again in 86400.0 s");
    }
  }
  EXPECT_EQ(retries, 1) << Joined(cli.ErrLines());
}

TEST(CliDevices, ListsEachRolesDevicesWithTheChosenOneMarked) {
  CliProcess capture({"devices", "capture"});
  EXPECT_EQ(capture.Wait(kWaitMs), 0);
  EXPECT_EQ(
      capture.OutLines(),
      (std::vector<std::string>{"* Default: Test tone (built-in devices only)", "  Test tone"}));

  CliProcess playback({"devices", "playback"});
  EXPECT_EQ(playback.Wait(kWaitMs), 0);
  EXPECT_EQ(playback.OutLines(),
            (std::vector<std::string>{"* Default: Silent output (built-in devices only)",
                                      "  Silent output"}));
}

TEST(CliDevices, ADeviceNoEntryMatchesIsRefusedWithTheList) {
  CliProcess cli({"server", "--device", "hdmi", "--port", "1"});
  EXPECT_EQ(cli.Wait(kWaitMs), 2);
  const std::vector<std::string> err = cli.ErrLines();
  ASSERT_EQ(err.size(), 3u) << Joined(err);
  EXPECT_NE(err[0].find("\"hdmi\""), std::string::npos);
  EXPECT_EQ(err[2], "  Silent output");
  EXPECT_FALSE(Contains(cli.OutLines(), "Running TCP server..."));
}

// Ports the field would refuse or change never reach it.
TEST(CliFieldErrors, ABadPortIsAUsageErrorBeforeTheWindowOpens) {
  const std::vector<std::vector<std::string>> cases = {
      {"client", "127.0.0.1", "--port", "abc"},
      {"server", "--port", ""},
      {"server", "--port", "70000"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(Joined(args));
    CliProcess cli(args);
    EXPECT_EQ(cli.Wait(kWaitMs), 2);
    ExpectOneUsageLine(cli, "--port");
  }
}

TEST(CliFieldErrors, AnEmptyHostMeetsTheProgramsBox) {
  CliProcess cli({"client", "", "--port", "5567"});
  EXPECT_EQ(cli.Wait(kWaitMs), 1);
  EXPECT_EQ(cli.ErrLines(), (std::vector<std::string>{"Error: Enter correct target host"}));
}

TEST(CliRun, AClientWithNoServerShowsTheConnectErrorAndEndsWithStatus1) {
  CliProcess cli({"client", "127.0.0.1", "--port", std::to_string(peer::ClosedPort())});
  EXPECT_EQ(cli.Wait(kWaitMs), 1);
  ASSERT_EQ(cli.ErrLines().size(), 1u);
  const std::string box = cli.ErrLines()[0];
  EXPECT_EQ(box.rfind("Error 0x274d in Connect: ", 0), 0u) << box;
  const std::string cause = " (connection refused)";  // how Linux names it, for a log
  ASSERT_GT(box.size(), cause.size());
  EXPECT_EQ(box.substr(box.size() - cause.size()), cause) << box;
  EXPECT_EQ(cli.OutLines(),
            (std::vector<std::string>{"Client ready", "Running TCP client...", "Stopped"}));
}

// In a network namespace of its own: the lookup cannot leave the machine.
TEST(CliRun, AHostNameThatDoesNotResolveGetsALookupErrorBox) {
  CliProcess cli({"client", "no-such-speaker.invalid", "--port", "5567"}, true);
  const int status = cli.Wait(kWaitMs);
  if (status == 1 && cli.OutLines().empty()) {
    // unshare refused (not root, no namespaces): a skip at a desk, a failure in CI.
    ASSERT_FALSE(RunningUnderCi()) << Joined(cli.ErrLines());
    GTEST_SKIP() << "no network namespace here: " << Joined(cli.ErrLines());
  }
  EXPECT_EQ(status, 1);
  ASSERT_EQ(cli.ErrLines().size(), 1u) << Joined(cli.ErrLines());
  const std::string box = cli.ErrLines()[0];
  // 11001 (no such host) from a resolver that answers, 11002 (no answer)
  // from one that cannot be reached; never a connect to a made-up address.
  const bool notFound = box.rfind("Error 0x2af9 in Connect: No such host is known.", 0) == 0;
  const bool noAnswer = box.rfind("Error 0x2afa in Connect: ", 0) == 0;
  EXPECT_TRUE(notFound || noAnswer) << box;
  EXPECT_NE(
      box.find(notFound ? "(name or service not known)" : "(temporary failure in name resolution)"),
      std::string::npos)
      << box;
}

TEST(CliRun, QuietPrintsNothingButErrors) {
  CliProcess cli({"client", "localhost", "-q", "--port", std::to_string(peer::ClosedPort())});
  EXPECT_EQ(cli.Wait(kWaitMs), 1);
  EXPECT_TRUE(cli.OutLines().empty()) << Joined(cli.OutLines());
  ASSERT_EQ(cli.ErrLines().size(), 1u);
  EXPECT_EQ(cli.ErrLines()[0].rfind("Error 0x274d in Connect: ", 0), 0u);
}

// With --retry a Client finds its Server whenever it comes (back), and
// keeps going until it is told to stop.
TEST(CliRun, RetryReconnectsWhenTheServerComesBack) {
  const std::string port = std::to_string(peer::ClosedPort());
  CliProcess client({"client", "127.0.0.1", "--port", port, "--retry", "0.2"});
  ASSERT_TRUE(client.WaitForOutLine("Stopped", kWaitMs, 2));  // refused twice, tried again
  {
    CliProcess server({"server", "--port", port});
    EXPECT_TRUE(client.WaitForOutLine("Transmitting", kWaitMs));
    EXPECT_TRUE(server.WaitForOutLine("Playback", kWaitMs));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(kWaitMs), 0);
  }
  CliProcess server({"server", "--port", port});
  EXPECT_TRUE(client.WaitForOutLine("Transmitting", kWaitMs, 2));
  client.Signal(SIGINT);
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  server.Signal(SIGINT);
  EXPECT_EQ(server.Wait(kWaitMs), 0);
  int retries = 0;
  for (const std::string& line : client.ErrLines()) {
    retries += line.rfind("tonewire-cli: pressing Start again in ", 0) == 0 ? 1 : 0;
  }
  EXPECT_GE(retries, 3) << Joined(client.ErrLines());
}

TEST(CliRun, SignalsAndTheEndOfSecondsCloseTheWindowWithStatus0) {
  const std::vector<std::string> expected = {
      "Client ready", "Server ready", "Running TCP server...", "Wait for incoming...", "Stopped"};
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    CliProcess cli({"server", "--port", std::to_string(peer::ClosedPort()), "--device", "SILENT"});
    ASSERT_TRUE(cli.WaitForOutLine("Wait for incoming...", kWaitMs));
    cli.Signal(signal);
    EXPECT_EQ(cli.Wait(kWaitMs), 0);
    EXPECT_EQ(cli.OutLines(), expected);
    EXPECT_TRUE(WithoutDiscoveryOff(cli.ErrLines()).empty()) << Joined(cli.ErrLines());
  }
  CliProcess timed({"server", "--port", std::to_string(peer::ClosedPort()), "--seconds", "1"});
  EXPECT_EQ(timed.Wait(kWaitMs), 0);
  const std::vector<std::string> out = timed.OutLines();
  ASSERT_GE(out.size(), 4u) << Joined(out);
  EXPECT_EQ(out[2], "Running TCP server...");
  EXPECT_EQ(out.back(), "Stopped");
}

TEST(CliEndToEnd, ServerPlaysWhatTheClientSendsAndShowsItsFormat) {
  const std::string port = std::to_string(peer::ClosedPort());
  CliProcess server({"server", "--port", port, "--volume", "-20", "--latency", "300"});
  ASSERT_TRUE(server.WaitForOutLine("Wait for incoming...", kWaitMs));
  CliProcess client({"client", "127.0.0.1", "--port", port, "--seconds", "3"});

  EXPECT_TRUE(client.WaitForOutLine("Transmitting", kWaitMs));
  EXPECT_TRUE(server.WaitForOutLine("Got config", kWaitMs));
  EXPECT_TRUE(server.WaitForOutLine("Playback", kWaitMs));
  EXPECT_TRUE(server.WaitForOutLine("Client 44100Hz 2 channels 24576 blen", kWaitMs));

  EXPECT_EQ(client.Wait(kWaitMs), 0);
  EXPECT_EQ(client.OutLines().back(), "Stopped");
  EXPECT_TRUE(client.ErrLines().empty()) << Joined(client.ErrLines());

  // The Client is gone: the Server waits for the next one until told to stop.
  ASSERT_TRUE(server.WaitForOutLine("Wait for incoming...", kWaitMs, 2));
  server.Signal(SIGINT);
  EXPECT_EQ(server.Wait(kWaitMs), 0);
  const std::vector<std::string> out = server.OutLines();
  EXPECT_EQ(out.back(), "Stopped");
  EXPECT_TRUE(WithoutDiscoveryOff(server.ErrLines()).empty()) << Joined(server.ErrLines());
  ExpectNoLineTwiceInARow(out);
  ExpectNoLineTwiceInARow(client.OutLines());
  // On a pipe the chunk-by-chunk texts become one summary of the stream.
  int summaries = 0;
  for (const std::string& line : out) {
    unsigned long long bytes = 0;
    double seconds = 0;
    double rate = 0;
    if (std::sscanf(line.c_str(), "Received %llu bytes in %lf s (%lf bytes/s)", &bytes, &seconds,
                    &rate) == 3) {
      ++summaries;
      EXPECT_GT(bytes, 0u);
      EXPECT_GT(rate, 176400 / 10) << line;  // the Client's pace, 44100 Hz x 4 bytes
      EXPECT_LT(rate, 176400 * 10) << line;
    } else {
      EXPECT_NE(line.rfind("Received ", 0), 0u) << line;
    }
  }
  EXPECT_EQ(summaries, 1) << Joined(out);
  // A fixed target is the one the Server plays with, shown once.
  EXPECT_EQ(std::count(out.begin(), out.end(), "Playback target 300 ms"), 1) << Joined(out);
}

TEST(CliEndToEnd, VerboseServerPrintsEveryReceivedText) {
  const std::string port = std::to_string(peer::ClosedPort());
  CliProcess server({"server", "-v", "--port", port});
  ASSERT_TRUE(server.WaitForOutLine("Wait for incoming...", kWaitMs));
  CliProcess client({"client", "::1", "--port", port, "--seconds", "1"});
  EXPECT_TRUE(server.WaitForOutLine("Received 0 24576", kWaitMs));
  EXPECT_TRUE(server.WaitForOutLine("Received 1 24576", kWaitMs));
  EXPECT_EQ(client.Wait(kWaitMs), 0);
  server.Signal(SIGINT);
  EXPECT_EQ(server.Wait(kWaitMs), 0);
  // The adaptive target, from its floor (25 ms on a clean link; a loaded
  // machine may deliver the first blocks late and raise it at once).
  const std::vector<std::string> out = server.OutLines();
  const auto target = std::find_if(out.begin(), out.end(), [](const std::string& line) {
    return line.rfind("Playback target ", 0) == 0;
  });
  ASSERT_NE(target, out.end()) << Joined(out);
  const int targetMs = std::atoi(target->c_str() + std::strlen("Playback target "));
  EXPECT_GE(targetMs, 25) << *target;
  EXPECT_LE(targetMs, 1000) << *target;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The desktop window's settings belong to the desktop: tonewire-cli writes
// them only with --save (the child inherits the fresh XDG_CONFIG_HOME).
TEST(CliSettings, TheDesktopSettingsChangeOnlyWithSave) {
  const std::string home = UseFreshConfigHome();
  ASSERT_FALSE(home.empty());
  const std::string file = home + "/tonewire/settings.conf";
  const std::string port = std::to_string(peer::ClosedPort());
  {
    CliProcess cli({"server", "--port", port, "--name", "Den", "--seconds", "0.3"});
    EXPECT_EQ(cli.Wait(kWaitMs), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(file));

  CliProcess saved({"server", "--port", port, "--volume", "-12", "--name", "Den", "--latency",
                    "180", "--seconds", "0.3", "--save"});
  EXPECT_EQ(saved.Wait(kWaitMs), 0);
  const std::string kept = ReadFile(file);
  EXPECT_NE(kept.find("LatencyMs=dword:180\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Role=dword:1\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Port=dword:" + port + "\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Attenuation=dword:12\n"), std::string::npos) << kept;
  // The announced name, for the desktop program's Server.
  EXPECT_NE(kept.find("ServerName=sz:Den\n"), std::string::npos) << kept;

  CliProcess client({"client", "127.0.0.1", "--port", port, "-q"});
  EXPECT_EQ(client.Wait(kWaitMs), 1);  // refused
  EXPECT_EQ(ReadFile(file), kept);
}

// --save keeps the fields of the role that ran, and the default device as
// the default, whatever its entry says today.
TEST(CliSettings, SaveKeepsOnlyTheRunRolesFields) {
  const std::string home = UseFreshConfigHome();
  ASSERT_FALSE(home.empty());
  const std::string file = home + "/tonewire/settings.conf";
  const std::string port = std::to_string(peer::ClosedPort());
  CliProcess client({"client", "livingroom.invalid", "--port", port, "-q", "--save"}, true);
  EXPECT_EQ(client.Wait(kWaitMs), 1);  // no such host
  std::string kept = ReadFile(file);
  EXPECT_NE(kept.find("Host=sz:livingroom.invalid\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Device=sz:\n"), std::string::npos) << kept;  // the default device
  EXPECT_EQ(kept.find("Attenuation="), std::string::npos) << kept;

  CliProcess server({"server", "--port", port, "--volume", "-12", "--device", "silent", "--seconds",
                     "0.3", "--save"});
  EXPECT_EQ(server.Wait(kWaitMs), 0);
  kept = ReadFile(file);
  EXPECT_NE(kept.find("Role=dword:1\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Host=sz:livingroom.invalid\n"), std::string::npos) << kept;
  // "silent" first matches "Default: Silent output (built-in devices only)".
  EXPECT_NE(kept.find("Device=sz:\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Attenuation=dword:12\n"), std::string::npos) << kept;

  EXPECT_NE(kept.find("Allow=sz:127.0.0.0/8,::1/128,10.0.0.0/8,"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Listen=sz:\n"), std::string::npos) << kept;

  CliProcess chosen({"server", "--port", port, "--volume", "-12", "--listen", "127.0.0.1",
                     "--allow", "192.168.1.0/24", "--seconds", "0.3", "--save"});
  EXPECT_EQ(chosen.Wait(kWaitMs), 0);
  kept = ReadFile(file);
  EXPECT_NE(kept.find("Allow=sz:192.168.1.0/24\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Listen=sz:127.0.0.1\n"), std::string::npos) << kept;

  CliProcess again({"client", "127.0.0.1", "--port", port, "-q", "--save"});
  EXPECT_EQ(again.Wait(kWaitMs), 1);  // refused
  kept = ReadFile(file);
  EXPECT_NE(kept.find("Role=dword:0\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Attenuation=dword:12\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Allow=sz:192.168.1.0/24\n"), std::string::npos) << kept;
}

// A peer outside the allowed networks is closed before a byte is read: no
// status, no box, one log line however often it knocks.
TEST(CliPeers, ALoopbackPeerLeftOutOfTheAllowListIsRefusedUnread) {
  const int port = peer::ClosedPort();
  CliProcess server({"server", "--port", std::to_string(port), "--allow", "192.168.0.0/16"});
  ASSERT_TRUE(server.WaitForOutLine("Wait for incoming...", kWaitMs));
  const std::string header(32, 'x');  // junk: read, it would show "Got junk"
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int knock = peer::Connect(port);
    ASSERT_GE(knock, 0);
    peer::SendAll(knock, header.data(), header.size());
    char byte = 0;
    EXPECT_LE(peer::Receive(knock, &byte, 1, kWaitMs), 0);  // closed: an end or a reset
    peer::Close(knock);
  }
  server.Signal(SIGINT);
  EXPECT_EQ(server.Wait(kWaitMs), 0);
  EXPECT_EQ(WithoutDiscoveryOff(server.ErrLines()),
            (std::vector<std::string>{"Refused a connection from 127.0.0.1 "
                                      "(not in the allowed networks)"}));
  for (const std::string& line : server.OutLines()) {
    EXPECT_TRUE(line.rfind("Got ", 0) != 0 && line != "Playback") << line;
  }
}

// A stream header for 9 channels, which the sound device refuses: every
// connection that sends it costs the Server a status line or two and a box.
std::string NineChannelHeader() {
  std::string header = "VORTELIN";
  for (std::uint32_t field : {44100u, 9u, 16u, 44100u * 18u, 18u, 24576u}) {
    for (int shift = 0; shift < 32; shift += 8) {
      header.push_back(static_cast<char>(field >> shift));
    }
  }
  return header;
}

// One peer connecting in a loop, for 7 s: the Server's log gets a few
// lines and counts, with and without -q, and a real Client is still served.
// The flood ends well inside one of the log limiter's 10 s periods: a
// slow (sanitized) Server still working through the last connections
// after 10 s would start a second period, with two more lines per kind.
TEST(CliFlood, APeerConnectingInALoopCostsAFewLinesAndARealClientIsServed) {
  constexpr auto kFlood = std::chrono::seconds(7);
  constexpr int kFloodThreads = 16;
  const std::string header = NineChannelHeader();
  for (bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "-q" : "normal");
    const std::string port = std::to_string(peer::ClosedPort());
    std::vector<std::string> args = {"server", "--port", port};
    if (quiet) {
      args.push_back("-q");
    }
    CliProcess server(args);
    ASSERT_TRUE(quiet || server.WaitForOutLine("Wait for incoming...", kWaitMs));
    // Several connecting threads keep the listen queue full: a connect
    // that finds it full waits a second for its SYN to be sent again.
    std::atomic<int> connections{0};
    const size_t linesBefore = server.OutLines().size() + server.ErrLines().size();
    const auto end = std::chrono::steady_clock::now() + kFlood;
    std::vector<std::thread> flood;
    for (int i = 0; i < kFloodThreads; ++i) {
      flood.emplace_back([&] {
        while (std::chrono::steady_clock::now() < end) {
          const int knock = peer::Connect(std::stoi(port));
          if (knock >= 0) {
            peer::SendAll(knock, header.data(), header.size());
            peer::Close(knock);
            ++connections;
          }
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    // A SYN dropped by the full queue is sent again 1, 3 and 7 s later, so
    // the Client may be let in only as the flood ends: it is given that long.
    CliProcess client({"client", "127.0.0.1", "--port", port});
    EXPECT_TRUE(client.WaitForOutLine("Transmitting", kWaitMs)) << Joined(client.OutLines());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    client.Signal(SIGINT);
    EXPECT_EQ(client.Wait(kWaitMs), 0);
    for (std::thread& each : flood) {
      each.join();
    }
    const size_t lines = server.OutLines().size() + server.ErrLines().size() - linesBefore;
    EXPECT_LE(lines, 20u) << Joined(server.OutLines()) << Joined(server.ErrLines());
    // Each connection used to print two status lines and a box.
    EXPECT_GT(connections.load(), 30) << "not much of a flood";
    server.Signal(SIGINT);
    EXPECT_EQ(server.Wait(kWaitMs), 0);
    std::printf("%s: %d connections in %d s, %zu lines\n", quiet ? "-q" : "normal",
                connections.load(), static_cast<int>(kFlood.count()), lines);
    // The refused format is told, with a count of the boxes held back.
    const std::vector<std::string> err = WithoutDiscoveryOff(server.ErrLines());
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err[0], "Error 0x88780064 in CreateSoundBuffer: DSERR_BADFORMAT");
    EXPECT_NE(err.back().find(" more time"), std::string::npos) << Joined(err);
    if (!quiet) {
      bool played = false;  // the real Client's sound, summed up
      for (const std::string& line : server.OutLines()) {
        played = played || line.rfind("Received ", 0) == 0;
      }
      EXPECT_TRUE(played) << Joined(server.OutLines());
    }
  }
}

}  // namespace
}  // namespace twtest
