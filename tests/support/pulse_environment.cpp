#include "tests/support/pulse_environment.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace twtest {
namespace {

std::unique_ptr<PulseDaemon> runningDaemon;
std::string startFailure = "the sound server environment is not registered";

}  // namespace

void PulseEnvironment::SetUp() {
  auto daemon = std::make_unique<PulseDaemon>();
  if (!daemon->Start(&startFailure)) {
    return;
  }
  ::setenv("PULSE_SERVER", daemon->serverAddress().c_str(), 1);
  ::unsetenv("TONEWIRE_AUDIO");
  runningDaemon = std::move(daemon);
}

void PulseEnvironment::TearDown() { runningDaemon.reset(); }

PulseDaemon* PulseEnvironment::daemon() { return runningDaemon.get(); }

const std::string& PulseEnvironment::reason() { return startFailure; }

bool RunningUnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

}  // namespace twtest
