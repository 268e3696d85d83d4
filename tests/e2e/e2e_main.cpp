// The whole-program tests share one private sound server.
#include <gtest/gtest.h>

#include "tests/support/pulse_environment.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new twtest::PulseEnvironment);
  return RUN_ALL_TESTS();
}
