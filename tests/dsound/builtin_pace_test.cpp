// The built-in output follows its writer's clock, by the same correction as
// the sound server's playback (tests/pulse/pulse_pace_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/pace_check.h"

namespace {

// 0.5 % either way once the ratio is at its limit; the cursors are read in
// 10 ms steps, and move in steps of up to 20 ms: 0.25 % of the 8 s measured.
TEST(BuiltinPace, FullRingPlaysFasterAndEmptyRingSlowerThanTheFormat) {
  const twtest::PaceRatios ratios = twtest::MeasurePaceRatios("Silent output");
  ASSERT_TRUE(ratios.failure.empty()) << ratios.failure;
  std::printf("[ measured ] full ring plays at %.4f, empty ring at %.4f of the rate\n", ratios.full,
              ratios.empty);
  // A late top-up on a busy machine lets the full ring's low point dip, and
  // the ratio backs off for a while: the two are checked against each other.
  EXPECT_GT(ratios.full, 1.0);
  EXPECT_LT(ratios.empty, 1.0);
  EXPECT_GT(ratios.full - ratios.empty, 0.005);
  EXPECT_LT(ratios.full, 1.008);
  EXPECT_GT(ratios.empty, 0.992);
}

}  // namespace
