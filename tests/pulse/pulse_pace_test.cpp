// The sound server's playback follows its writer's clock: the stream's rate
// moves with the ring's low point (see tests/dsound/builtin_pace_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/pace_check.h"
#include "tests/support/pulse_environment.h"

namespace {

// 0.5 % either way once the ratio is at its limit; the cursor moves with the
// server's requests, up to 20 ms at a time: 0.25 % of the 8 s measured.
TEST(PulsePace, FullRingPlaysFasterAndEmptyRingSlowerThanTheFormat) {
  TW_REQUIRE_PULSE();
  const twtest::PaceRatios ratios = twtest::MeasurePaceRatios("Speakers");
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
