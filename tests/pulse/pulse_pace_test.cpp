// The sound server's playback plays a buffer at the frequency set on it,
// resampled to the device's rate (see tests/dsound/builtin_pace_test.cpp).
#include <gtest/gtest.h>

#include "tests/support/pace_check.h"
#include "tests/support/pulse_environment.h"

namespace {

TEST(PulsePace, PlaysAtTheFrequencySetOnTheBuffer) {
  TW_REQUIRE_PULSE();
  twtest::ExpectPaceFollowsTheRing("Speakers");
}

}  // namespace
