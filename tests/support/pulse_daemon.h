// A private sound server for tests and benchmarks: its own runtime folder, a
// native socket in it, two null sinks ("Speakers" and "Mic") and a 1000 Hz
// sine source ("Sine"). Nothing here depends on GoogleTest.
#pragma once

#include <sys/types.h>

#include <string>

namespace twtest {

inline constexpr int kSineSourceHz = 1000;

class PulseDaemon {
 public:
  PulseDaemon();
  ~PulseDaemon();  // stops the server and removes its folder
  PulseDaemon(const PulseDaemon&) = delete;
  PulseDaemon& operator=(const PulseDaemon&) = delete;

  // Starts the server (again, after Stop or Kill, on the same socket) and
  // waits up to 10 s until the socket accepts connections. False with the
  // reason and the end of the server's log. The server is ended with the
  // thread that starts it: start it from one that lives as long as it.
  bool Start(std::string* reason);
  // Asks the server to end, then forces it after 5 s.
  void Stop();
  // Ends the server at once, as a crash would.
  void Kill();

  bool running() const { return pid_ > 0; }
  // For PULSE_SERVER.
  std::string serverAddress() const { return "unix:" + socketPath(); }
  std::string socketPath() const { return directory_ + "/native"; }
  // The end of the server's own log.
  std::string LogTail() const;

 private:
  bool WaitForSocket(std::string* reason);
  void Reap(int signal, int graceMs);

  std::string directory_;
  pid_t pid_ = -1;
};

}  // namespace twtest
