// The built-in clock's skew setting: whole ppm within +-10 %, nothing else.
#include <gtest/gtest.h>

#include "platform/dsound/builtin/builtin_clock.h"

namespace {

using twplat::sound::ParseClockPpm;

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

}  // namespace
