// tonewire-cli as a child process with the built-in sound devices, its
// stdout and stderr read line by line on threads of their own, so the child
// never blocks on a full pipe.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace twtest {

class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& args);
  // ownNetwork: in a network namespace of its own, where only its loopback
  // is up (unshare -n), so that nothing it looks up or reaches leaves
  // this machine.
  CliProcess(const std::vector<std::string>& args, bool ownNetwork);
  // Kills a child that is still running.
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void Signal(int signal);
  // The exit status, or -1 when the child has not ended within timeoutMs
  // (or ended by a signal). Once it has ended, all its output is read.
  int Wait(int timeoutMs);

  // Waits until a whole line on stdout (or stderr) satisfies the test, the
  // given number of times.
  bool WaitForOutLine(const std::string& line, int timeoutMs, int times = 1);
  bool WaitForErrLinePrefix(const std::string& prefix, int timeoutMs);
  std::vector<std::string> OutLines() const;
  std::vector<std::string> ErrLines() const;

 private:
  struct Stream {
    int fd = -1;
    std::string partial;
    std::vector<std::string> lines;
    std::thread reader;
  };

  void Read(Stream& stream);
  bool WaitForLine(const Stream& stream, const std::string& text, bool prefix, int times,
                   int timeoutMs);
  void JoinReaders();

  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Stream out_;
  Stream err_;
};

}  // namespace twtest
