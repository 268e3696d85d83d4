// A program run as a child process for the tests and the benchmarks: its stdout read on a thread of
// its own, either as lines (status texts) or as raw bytes (a recorder's PCM), each with the moment
// it arrived; stderr kept as lines; stdin either a pipe the caller writes to or a file descriptor
// handed over, as in a shell pipeline, or else /dev/null.
//
// Thread contract: one owner thread calls everything; the reader threads
// only append under the lock.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace twtest {

using Clock = std::chrono::steady_clock;

struct TimedLine {
  std::string text;
  Clock::time_point at;
};

// The byte total of stdout when one read returned, and when.
struct Arrival {
  std::uint64_t total;
  Clock::time_point at;
};

// A system message bus address where no bus listens: no mDNS daemon answers
// a child started with it. Children get it unless their environment names
// another bus.
inline constexpr char kNoSystemBus[] =
    "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/tonewire-test-bus";

struct ChildOptions {
  std::vector<std::string> argv;         // argv[0] is looked up in PATH
  std::vector<std::string> environment;  // NAME=VALUE, added to (or replacing) ours
  bool rawStdout = false;                // keep stdout as bytes, not lines
  bool pipeStdin = false;                // stdin is a pipe written with WriteStdin
  int stdinFd = -1;                      // or this descriptor (closed here after the start)
  int stdoutFd = -1;                     // stdout to this descriptor instead of a reader
};

class ChildProcess {
 public:
  explicit ChildProcess(const ChildOptions& options);
  // A child still running is killed (SIGKILL) and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  Clock::time_point startedAt() const { return startedAt_; }

  void Signal(int signal);
  // The exit status; -1 when it has not ended within timeoutMs or ended by a
  // signal.
  int Wait(int timeoutMs);
  bool Ended();
  // The signal that ended the child; 0 while it runs or after a normal exit.
  int endSignal() const { return endSignal_; }
  Clock::time_point endedAt() const { return endedAt_; }
  // Once the child has ended: returns when all it wrote has been read.
  void DrainOutput() { JoinReaders(); }

  // Lines of stdout (when not raw) and of stderr.
  bool WaitForLine(const std::string& text, int timeoutMs, int times = 1);
  bool WaitForErrorLinePrefix(const std::string& prefix, int timeoutMs);
  // The moment the given occurrence (1 = first) of a stdout line arrived,
  // counting only lines that arrived after `after`; false when there is none.
  bool LineTime(const std::string& text, Clock::time_point after, Clock::time_point* at) const;
  int CountLines(const std::string& text) const;
  std::vector<TimedLine> Lines() const;
  std::vector<std::string> ErrorLines() const;

  // Raw stdout.
  std::uint64_t ByteCount() const;
  bool WaitForBytes(std::uint64_t total, int timeoutMs);
  std::vector<std::uint8_t> Bytes() const;
  // At most count bytes from offset on.
  std::vector<std::uint8_t> Bytes(std::uint64_t offset, std::uint64_t count) const;
  std::vector<Arrival> Arrivals() const;

  // Blocks while the pipe is full; false once the child has closed it.
  bool WriteStdin(const void* data, size_t bytes);
  void CloseStdin();

 private:
  void ReadLines(int fd, std::vector<TimedLine>* lines, std::string* partial);
  void ReadBytes(int fd);
  void JoinReaders();

  pid_t pid_ = -1;
  Clock::time_point startedAt_;
  Clock::time_point endedAt_;
  int status_ = -1;
  int endSignal_ = 0;
  bool reaped_ = false;
  int stdinFd_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<TimedLine> outLines_;
  std::vector<TimedLine> errLines_;
  std::string outPartial_;
  std::string errPartial_;
  std::vector<std::uint8_t> bytes_;
  std::vector<Arrival> arrivals_;
  std::thread outReader_;
  std::thread errReader_;
};

// What the kernel counts for a running process.
struct ProcessStats {
  bool known = false;
  double cpuSeconds = 0;      // user + system time
  double peakResidentMb = 0;  // VmHWM
};

ProcessStats ReadProcessStats(pid_t pid);

// Runs a program to its end (at most timeoutMs) and returns its stdout, or
// an empty text with ok false.
std::string RunToEnd(const std::vector<std::string>& argv, int timeoutMs, bool* ok);

// A server process for a test: starts argv (argv[0] looked up in PATH) with
// the environment, stdout and stderr appended to logPath; it dies with the
// calling thread. -1 on failure.
pid_t StartDaemon(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                  const std::string& logPath);

// True while the process runs; reaps it (and sets pid to -1) once it ended.
bool StillRunning(pid_t* pid);

// Sends signal, waits up to graceMs for the end, then SIGKILL; pid -1 after.
void ReapDaemon(pid_t* pid, int signal, int graceMs);

// A program's stderr without the one line that says discovery is off (test
// children reach no mDNS daemon); a second such line is kept.
std::vector<std::string> WithoutDiscoveryOff(const std::vector<std::string>& lines);

}  // namespace twtest
