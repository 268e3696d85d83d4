// The built-in output follows its writer's clock, by the same correction as
// the sound server's playback (tests/pulse/pulse_pace_test.cpp).
#include <gtest/gtest.h>

#include "tests/support/pace_check.h"

namespace {

TEST(BuiltinPace, FullRingPlaysFasterAndEmptyRingSlowerThanTheFormat) {
  twtest::ExpectPaceFollowsTheRing("Silent output");
}

}  // namespace
