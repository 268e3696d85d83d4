// These tests run without a sound server, whatever the machine offers: the
// server address points at a socket that does not exist.
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class NoSoundServer : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("PULSE_SERVER", "unix:/nonexistent/tonewire-test/native", 1);
    ::unsetenv("TONEWIRE_AUDIO");
  }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new NoSoundServer);

}  // namespace
