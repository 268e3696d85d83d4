#include "tests/support/pulse_environment.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace twtest {
namespace {

std::unique_ptr<PulseDaemon> runningDaemon;
std::unique_ptr<PipeWireDaemon> runningPipeWire;
std::string startFailure = "the sound server environment is not registered";

bool PipeWireWanted() {
  const char* server = std::getenv("TW_SOUND_SERVER");
  return server != nullptr && std::strcmp(server, "pipewire") == 0;
}

// Starts the server and points the program and the tools at it.
template <class Server>
std::unique_ptr<Server> Started() {
  auto server = std::make_unique<Server>();
  if (!server->Start(&startFailure)) {
    return nullptr;
  }
  ::setenv("PULSE_SERVER", server->serverAddress().c_str(), 1);
  ::unsetenv("TONEWIRE_AUDIO");
  return server;
}

}  // namespace

void PulseEnvironment::SetUp() {
  if (PipeWireWanted()) {
    runningPipeWire = Started<PipeWireDaemon>();
  } else {
    runningDaemon = Started<PulseDaemon>();
  }
}

void PulseEnvironment::TearDown() {
  runningDaemon.reset();
  runningPipeWire.reset();
}

bool PulseEnvironment::ready() { return runningDaemon != nullptr || runningPipeWire != nullptr; }

PulseDaemon* PulseEnvironment::daemon() { return runningDaemon.get(); }

const std::string& PulseEnvironment::reason() { return startFailure; }

bool RunningUnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

}  // namespace twtest
