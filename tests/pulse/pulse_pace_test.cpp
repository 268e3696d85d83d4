// The sound server's playback follows its writer's clock: the stream's rate
// moves with the ring's low point (see tests/dsound/builtin_pace_test.cpp).
#include <gtest/gtest.h>

#include "tests/support/pace_check.h"
#include "tests/support/pulse_environment.h"

namespace {

TEST(PulsePace, FullRingPlaysFasterAndEmptyRingSlowerThanTheFormat) {
  TW_REQUIRE_PULSE();
  twtest::ExpectPaceFollowsTheRing("Speakers");
}

}  // namespace
