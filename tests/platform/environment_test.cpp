// The built-in devices' settings: the clock's skew in whole ppm within
// +-10 %, the test tone's pitch in whole hertz from 20 to 20000; nothing else.
#include <gtest/gtest.h>

#include "platform/dsound/builtin/builtin_clock.h"
#include "platform/dsound/builtin/test_tone.h"

namespace {

using twplat::sound::ParseClockPpm;
using twplat::sound::ParseToneHz;

TEST(ClockPpm, AcceptsWholeSignedPartsPerMillionWithinTenPercent) {
  std::int32_t ppm = 7;
  EXPECT_TRUE(ParseClockPpm("-2000", &ppm));
  EXPECT_EQ(ppm, -2000);
  EXPECT_TRUE(ParseClockPpm("+2000", &ppm));
  EXPECT_EQ(ppm, 2000);
  EXPECT_TRUE(ParseClockPpm("100000", &ppm));
  EXPECT_EQ(ppm, 100000);
  for (const char* bad :
       {"", "fast", "20.5", "2000ppm", " ", "100001", "-100001", "99999999999999999999"}) {
    ppm = 7;
    EXPECT_FALSE(ParseClockPpm(bad, &ppm)) << bad;
    EXPECT_EQ(ppm, 7) << bad;
  }
}

TEST(ToneHz, AcceptsWholeHertzFromTwentyToTwentyThousand) {
  int hz = 7;
  EXPECT_TRUE(ParseToneHz("437", &hz));
  EXPECT_EQ(hz, 437);
  EXPECT_TRUE(ParseToneHz("20", &hz));
  EXPECT_EQ(hz, 20);
  EXPECT_TRUE(ParseToneHz("20000", &hz));
  EXPECT_EQ(hz, 20000);
  for (const char* bad :
       {"", "19", "20001", "-440", "440.5", "440Hz", "a", "99999999999999999999"}) {
    hz = 7;
    EXPECT_FALSE(ParseToneHz(bad, &hz)) << bad;
    EXPECT_EQ(hz, 7) << bad;
  }
}

}  // namespace
