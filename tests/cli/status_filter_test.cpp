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

}  // namespace
}  // namespace twcli
