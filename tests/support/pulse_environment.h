// A GoogleTest global environment that runs one private sound server for the
// whole test program and points PULSE_SERVER at it. A test program opts in
// by registering it; tests then start with TW_REQUIRE_PULSE(). With
// TW_SOUND_SERVER=pipewire the server is PipeWire with its PulseAudio front
// end (same sinks, no sine source, no daemon() to stop or kill).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/pipewire_daemon.h"
#include "tests/support/pulse_daemon.h"

namespace twtest {

class PulseEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

  // False when the server could not start; reason() then says why.
  static bool ready();
  // The PulseAudio daemon; null when it could not start or PipeWire runs.
  static PulseDaemon* daemon();
  static const std::string& reason();
};

// Under CI (CI=true) a missing server fails the test; elsewhere it skips.
bool RunningUnderCi();

}  // namespace twtest

#define TW_REQUIRE_PULSE()                                                                 \
  do {                                                                                     \
    if (!::twtest::PulseEnvironment::ready()) {                                            \
      if (::twtest::RunningUnderCi()) {                                                    \
        FAIL() << "no private sound server: " << ::twtest::PulseEnvironment::reason();     \
      }                                                                                    \
      GTEST_SKIP() << "no private sound server: " << ::twtest::PulseEnvironment::reason(); \
    }                                                                                      \
  } while (false)
