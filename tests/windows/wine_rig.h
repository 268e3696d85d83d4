// Wine for the tests that run the Windows build: one private prefix under the
// Windows build folder, booted once per test program, a headless X display
// (Xvfb, no TCP) for its windows, and the private sound server of
// PulseEnvironment as its sound system.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace twtest {

class WineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

  static bool ready();
  static const std::string& reason();
};

// The Windows build's folder: TW_WINDOWS_BUILD, else build/windows.
std::string WindowsBuildDir();

// A Windows program of the build (a path relative to its folder) run under
// Wine with these arguments.
ChildOptions WineProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace twtest

// Under CI (CI=true) a missing Wine fails the test; elsewhere it skips.
#define TW_REQUIRE_WINE()                                                            \
  do {                                                                               \
    if (!::twtest::WineEnvironment::ready()) {                                       \
      if (::twtest::RunningUnderCi()) {                                              \
        FAIL() << "Wine is not usable: " << ::twtest::WineEnvironment::reason();     \
      }                                                                              \
      GTEST_SKIP() << "Wine is not usable: " << ::twtest::WineEnvironment::reason(); \
    }                                                                                \
  } while (false)
