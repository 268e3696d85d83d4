// The stream over an emulated Wi-Fi link: a tonewire-cli Client captures
// the built-in "Test tone" and sends it through a relay on 127.0.0.1 that
// behaves like good 5 GHz Wi-Fi (tests/support/link_relay.h), with its
// 250 ms spikes every 15 s rather than every 33 s, so that a minute holds
// three. A tonewire-cli Server plays into "Speakers", recorded from its
// monitor. The first spike comes before the Server has seen one and may be
// heard; every later one must be absorbed: no gap, no break that a stall of
// the machine does not explain (tests/e2e/stall_watch.h).
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/sound_rig.h"
#include "tests/e2e/stall_watch.h"
#include "tests/e2e/tone_checks.h"
#include "tests/support/child_process.h"
#include "tests/support/link_relay.h"
#include "tests/support/pulse_environment.h"

namespace twtest {
namespace {

constexpr double kStreamSeconds = 60;
constexpr double kSpikeEveryMs = 15000;
constexpr double kAfterFirstSpikeSeconds = kSpikeEveryMs / 1000 + 2;
constexpr int kTestToneHz = 437;  // a ring's lap of older sound is a break
constexpr int kWaitMs = 15000;
constexpr std::uint64_t kSeed = 24;

double SecondsAt(size_t frame, long soundStart) {
  return static_cast<double>(frame - static_cast<size_t>(soundStart)) / kRecordRate;
}

class Network : public ::testing::Test {
 protected:
  void SetUp() override { TW_REQUIRE_PULSE(); }
};

TEST_F(Network, GoodWifiIsHeardWithoutAGapAfterTheFirstSpike) {
  LinkProfile link;
  ASSERT_TRUE(FindLinkProfile("wifi-good", &link));
  link.holds = {{kSpikeEveryMs, link.holds.at(0).lengthMs}};
  const int port = FreeLoopbackPort();
  auto server = StartProgram(
      TW_CLI_PATH, {"server", "-v", "--port", std::to_string(port), "--device", "Speakers"}, {});
  ASSERT_TRUE(server->WaitForLine("Wait for incoming...", kWaitMs));
  LinkRelay relay(link, port, kSeed);
  ASSERT_TRUE(relay.Start());
  const TestToneRecording run =
      RecordTestTone(TW_CLI_PATH, *server, relay.port(),
                     {"TONEWIRE_TEST_TONE_HZ=" + std::to_string(kTestToneHz)}, kStreamSeconds);
  ASSERT_TRUE(run.failure.empty()) << run.failure;
  EXPECT_EQ(run.clientExit, 0);
  EXPECT_EQ(run.serverExit, 0);
  const std::vector<double>& left = run.left;
  const long soundStart = run.soundStart;
  const Span whole{static_cast<size_t>(soundStart) + kRecordRate,
                   static_cast<size_t>((kStreamSeconds - 1) * kRecordRate)};
  for (size_t gap : QuietStretchesBelow(left, whole, kTestToneGapWindow, kTestToneLevelRms,
                                        kTestToneGapFloorDb)) {
    std::printf("[ measured ] gap at %.2f s\n", SecondsAt(gap, soundStart));
  }
  for (size_t at :
       BreaksAbove(left, whole, kTestToneHz, kTestToneBreakThreshold, kTestToneGapWindow)) {
    std::printf("[ measured ] break at %.2f s\n", SecondsAt(at, soundStart));
  }
  // From shortly after the first spike to the end: two more spikes.
  const auto checkedFrom = static_cast<size_t>(soundStart + kAfterFirstSpikeSeconds * kRecordRate);
  const Span checked{checkedFrom, whole.from + whole.count - checkedFrom};
  PrintStalls(run.stalls);
  const std::vector<size_t> gaps =
      UnexplainedByStalls(QuietStretchesBelow(left, checked, kTestToneGapWindow, kTestToneLevelRms,
                                              kTestToneGapFloorDb),
                          soundStart, run.stalls, "gap");
  const std::vector<size_t> breaks = UnexplainedByStalls(
      BreaksAbove(left, checked, kTestToneHz, kTestToneBreakThreshold, kTestToneGapWindow),
      soundStart, run.stalls, "break");
  std::printf("[ measured ] after the first spike: %zu gaps, %zu breaks in %.0f s\n", gaps.size(),
              breaks.size(), static_cast<double>(checked.count) / kRecordRate);
  // The Server's targets, to tell a hold it forgot from one it covered.
  for (const TimedLine& line : server->Lines()) {
    if (line.text.rfind("Playback target", 0) == 0) {
      std::printf("[ measured ] %s\n", line.text.c_str());
    }
  }
  EXPECT_TRUE(gaps.empty());
  EXPECT_TRUE(breaks.empty());
}

}  // namespace
}  // namespace twtest
