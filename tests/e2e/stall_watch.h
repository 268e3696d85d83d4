// A watch on the machine itself: on each processor a thread of the test's
// own, held to it, that sleeps a millisecond at a time and notes each
// wake-up that came more than 15 ms late. A shared machine now and then runs
// nothing of ours for tens of milliseconds (seen: 100 ms, with no process
// waiting on the disk), and one processor of a virtual machine can stand
// still while the other runs on; the programs under test are held too, and
// the sound server's queue runs dry. A gap or break that follows such a
// stall is the machine's and is reported as such; one that no stall
// explains is the program's.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace twtest {

struct MachineStall {
  double endSeconds = 0;  // when the thread woke, from a moment of the caller's
  double lengthMs = 0;
};

class StallWatch {
 public:
  using Clock = std::chrono::steady_clock;

  StallWatch();
  StallWatch(const StallWatch&) = delete;
  StallWatch& operator=(const StallWatch&) = delete;

  // The stalls seen so far, timed from origin.
  std::vector<MachineStall> Since(Clock::time_point origin) const;
  Clock::time_point started() const { return started_; }

 private:
  struct Seen {
    Clock::time_point end;
    double lengthMs;
  };
  void Watch(const std::stop_token& stop, int processor);

  const Clock::time_point started_ = Clock::now();
  mutable std::mutex mutex_;
  std::vector<Seen> seen_;
  std::vector<std::jthread> threads_;  // last: stopped and joined before the rest goes
};

// Prints each stall, for the test's output.
void PrintStalls(const std::vector<MachineStall>& stalls);

// Of the positions found in a recording (frames; second 0 at frame
// soundStart), those that no stall explains. A stall explains what the
// recording shows from a quarter second before it began (the recording's
// timing is that rough) to 1.5 s after it ended (a stalled Client's sound
// is heard a target and a chunk later). Prints which `what` each explained.
std::vector<size_t> UnexplainedByStalls(const std::vector<size_t>& positions, long soundStart,
                                        const std::vector<MachineStall>& stalls, const char* what);

}  // namespace twtest
