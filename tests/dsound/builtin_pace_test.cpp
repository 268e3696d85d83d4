// The built-in output plays a buffer at the frequency set on it, as the
// sound server's playback does (tests/pulse/pulse_pace_test.cpp).
#include <gtest/gtest.h>

#include "tests/support/pace_check.h"

namespace {

TEST(BuiltinPace, PlaysAtTheFrequencySetOnTheBuffer) {
  twtest::ExpectPaceFollowsTheRing("Silent output");
}

}  // namespace
