// A private PipeWire server with its session manager and its PulseAudio
// front end, for the tests that run again on PipeWire: its own runtime,
// config and state folders and its own message bus, so it neither sees nor
// disturbs a user's session. The front end's socket offers the same two null
// sinks as PulseDaemon, "Speakers" and "Mic"; PipeWire has no sine source.
// Nothing here depends on GoogleTest.
#pragma once

#include <sys/types.h>

#include <string>

namespace twtest {

class PipeWireDaemon {
 public:
  PipeWireDaemon();
  ~PipeWireDaemon();  // stops the processes and removes the folder
  PipeWireDaemon(const PipeWireDaemon&) = delete;
  PipeWireDaemon& operator=(const PipeWireDaemon&) = delete;

  // Starts the bus, pipewire, wireplumber and pipewire-pulse, and waits up to
  // 10 s until the front end accepts connections and both sinks exist. False
  // with the reason and the logs' ends. The processes end with the thread
  // that starts them.
  bool Start(std::string* reason);
  void Stop();

  // For PULSE_SERVER.
  std::string serverAddress() const { return "unix:" + socketPath(); }
  std::string socketPath() const { return directory_ + "/pulse/native"; }

 private:
  enum Process { kBus, kPipeWire, kSessionManager, kPulseFrontEnd, kProcessCount };

  bool WriteConfig(std::string* reason) const;
  bool StartProcess(Process which, std::string* reason);
  bool WaitUntilReady(std::string* reason);
  std::string LogTails() const;

  std::string directory_;
  pid_t pids_[kProcessCount] = {-1, -1, -1, -1};
};

}  // namespace twtest
