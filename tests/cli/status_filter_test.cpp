// tonewire-cli's choice of status lines, with a made-up clock.
#include "cli/status_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace twcli {
namespace {

using Lines = std::vector<std::string>;

TEST(StatusFilter, APipeGetsOneReceivedSummaryEveryTenSeconds) {
  StatusFilter filter(Verbosity::kNormal, true);
  EXPECT_EQ(filter.Take("Playback", 0), Lines{"Playback"});
  // 7 chunks a second: nothing printed until 10 s have passed.
  std::uint64_t now = 0;
  for (int chunk = 0; chunk < 70; ++chunk) {
    now = 1000 + static_cast<std::uint64_t>(chunk) * 143;
    EXPECT_TRUE(filter.Take("Received " + std::to_string(chunk) + " 24576", now).empty()) << chunk;
  }
  EXPECT_EQ(filter.Take("Received 70 24576", 11000),
            Lines{"Received 1744896 bytes in 10.0 s (174490 bytes/s)"});
  // The next period starts at that summary; a status change prints what it owes first.
  EXPECT_TRUE(filter.Take("Received 71 1000", 12000).empty());
  EXPECT_EQ(filter.Take("Wait for incoming...", 13000),
            (Lines{"Received 1000 bytes in 2.0 s (500 bytes/s)", "Wait for incoming..."}));
  EXPECT_TRUE(filter.Flush(14000).empty());  // nothing owed any more
}

TEST(StatusFilter, TheEndOfTheProgramPrintsTheSummaryStillOwed) {
  StatusFilter filter(Verbosity::kNormal, true);
  EXPECT_TRUE(filter.Take("Received 0 24576", 500).empty());
  EXPECT_TRUE(filter.Take("Received 1 24576", 1500).empty());
  EXPECT_EQ(filter.Flush(2500), Lines{"Received 49152 bytes in 2.0 s (24576 bytes/s)"});
}

TEST(StatusFilter, TerminalAndVerboseGetEveryTextQuietNone) {
  for (bool summarise : {false, true}) {
    const Verbosity verbosity = summarise ? Verbosity::kVerbose : Verbosity::kNormal;
    StatusFilter filter(verbosity, summarise);
    EXPECT_EQ(filter.Take("Received 0 24576", 0), Lines{"Received 0 24576"});
    EXPECT_EQ(filter.Take("Received 1 24576", 10), Lines{"Received 1 24576"});
    EXPECT_TRUE(filter.Take("Received 1 24576", 20).empty());  // a repeat is printed once
  }
  StatusFilter quiet(Verbosity::kQuiet, true);
  EXPECT_TRUE(quiet.Take("Playback", 0).empty());
  EXPECT_TRUE(quiet.Take("Received 0 24576", 0).empty());
  EXPECT_TRUE(quiet.Flush(20000).empty());
}

TEST(StatusFilter, OnlyTheReceiversTextIsSummedUp) {
  StatusFilter filter(Verbosity::kNormal, true);
  for (const char* text : {"Received", "Received 5", "Received 1 2 3", "Received bytes"}) {
    EXPECT_EQ(filter.Take(text, 0), Lines{text});
  }
}

// A peer that connects in a loop repeats the same few lines: each kind gets
// its first two lines, then one count every 10 s while it goes on.
TEST(LineLimiter, AKindRepeatedFastGetsTwoLinesThenOneCountEveryPeriod) {
  LineLimiter limiter;
  EXPECT_EQ(limiter.Take("Got config", 0), Lines{"Got config"});
  EXPECT_EQ(limiter.Take("Playback", 1), Lines{"Playback"});
  EXPECT_EQ(limiter.Take("Got config", 2), Lines{"Got config"});
  for (std::uint64_t now = 3; now < 10000; now += 10) {
    EXPECT_TRUE(limiter.Take("Got config", now).empty()) << now;
  }
  EXPECT_TRUE(limiter.Due(9999).empty());
  EXPECT_EQ(limiter.Due(10000), Lines{"Got config (1000 more times in 10.0 s)"});
  // Still flooding: the next period prints nothing but its count.
  EXPECT_TRUE(limiter.Take("Got config", 10001).empty());
  EXPECT_EQ(limiter.Take("Got config", 20000), Lines{"Got config (1 more time in 10.0 s)"});
  EXPECT_EQ(limiter.Flush(25000), Lines{"Got config (1 more time in 5.0 s)"});
}

TEST(LineLimiter, AQuietPeriodStartsAKindAfresh) {
  LineLimiter limiter;
  EXPECT_EQ(limiter.Take("Wait for incoming...", 0), Lines{"Wait for incoming..."});
  EXPECT_TRUE(limiter.Due(10000).empty());  // nothing held back: no count
  EXPECT_EQ(limiter.Take("Wait for incoming...", 30000), Lines{"Wait for incoming..."});
  EXPECT_EQ(limiter.Take("Wait for incoming...", 30001), Lines{"Wait for incoming..."});
  EXPECT_TRUE(limiter.Take("Wait for incoming...", 30002).empty());
  // A line after its period ends prints the count first, then is itself held.
  EXPECT_EQ(limiter.Take("Wait for incoming...", 45000),
            Lines{"Wait for incoming... (1 more time in 15.0 s)"});
  EXPECT_TRUE(limiter.Due(54999).empty());
  EXPECT_EQ(limiter.Due(55000), Lines{"Wait for incoming... (1 more time in 10.0 s)"});
  EXPECT_TRUE(limiter.Due(65000).empty());
  EXPECT_TRUE(limiter.Flush(70000).empty());
}

// Texts a peer chooses (a format in the "Client Info" text) cannot grow the
// table: kinds beyond the limit share one count.
TEST(LineLimiter, ManyKindsShareOneCountBeyondTheLimit) {
  LineLimiter limiter;
  size_t printed = 0;
  for (int rate = 0; rate < 1000; ++rate) {
    printed += limiter.Take("Client " + std::to_string(rate) + "Hz", 0).size();
  }
  EXPECT_EQ(printed, LineLimiter::kMostKinds);
  const Lines due = limiter.Due(10000);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0], "Lines of other kinds (968 more times in 10.0 s)");
}

// Status texts on a pipe go through the limiter; a terminal and -v get all.
TEST(StatusFilter, RepeatedStatusTextsAreLimitedOnAPipeOnly) {
  StatusFilter pipe(Verbosity::kNormal, true);
  StatusFilter verbose(Verbosity::kVerbose, true);
  size_t pipeLines = 0;
  size_t verboseLines = 0;
  for (int connection = 0; connection < 50; ++connection) {
    for (const char* status : {"Got config", "Playback", "Wait for incoming..."}) {
      pipeLines += pipe.Take(status, static_cast<std::uint64_t>(connection)).size();
      verboseLines += verbose.Take(status, static_cast<std::uint64_t>(connection)).size();
    }
  }
  EXPECT_EQ(pipeLines, 6u);
  EXPECT_EQ(verboseLines, 150u);
  EXPECT_EQ(pipe.TakeLine("Client 44100Hz 2 channels 24576 blen", 60),
            Lines{"Client 44100Hz 2 channels 24576 blen"});
  EXPECT_EQ(pipe.Flush(5000).size(), 3u);  // a count for each status
}

}  // namespace
}  // namespace twcli
