// tonewire-cli as a child process with the built-in sound devices, its
// stdout and stderr read line by line on threads of their own, so the child
// never blocks on a full pipe.
#pragma once

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace twtest {

class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& args);
  // ownNetwork: in a network namespace of its own, where only its loopback
  // is up (unshare -n), so that nothing it looks up or reaches leaves
  // this machine.
  CliProcess(const std::vector<std::string>& args, bool ownNetwork);
  // Run through launcher (a command that runs the rest, e.g. nsenter into a
  // namespace) with exactly environment, plus the built-in sound devices.
  CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& launcher,
             const std::vector<std::string>& environment);

  bool started() const { return child_.started(); }
  void Signal(int signal) { child_.Signal(signal); }
  // The exit status, or -1 when the child has not ended within timeoutMs
  // (or ended by a signal). Once it has ended, all its output is read.
  int Wait(int timeoutMs);

  // Waits until a whole line on stdout (or stderr) satisfies the test, the
  // given number of times.
  bool WaitForOutLine(const std::string& line, int timeoutMs, int times = 1) {
    return child_.WaitForLine(line, timeoutMs, times);
  }
  bool WaitForErrLinePrefix(const std::string& prefix, int timeoutMs) {
    return child_.WaitForErrorLinePrefix(prefix, timeoutMs);
  }
  std::vector<std::string> OutLines() const;
  std::vector<std::string> ErrLines() const { return child_.ErrorLines(); }

 private:
  ChildProcess child_;
};

}  // namespace twtest
