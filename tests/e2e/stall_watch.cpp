#include "tests/e2e/stall_watch.h"

#include <pthread.h>
#include <sched.h>

#include <cstdio>

#include "tests/e2e/tone_checks.h"

namespace twtest {
namespace {

constexpr auto kStep = std::chrono::milliseconds(1);
constexpr double kStallMs = 15;
constexpr double kBeforeSeconds = 0.25;
constexpr double kAfterSeconds = 1.5;

double Milliseconds(StallWatch::Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

StallWatch::StallWatch() {
  cpu_set_t usable;
  CPU_ZERO(&usable);
  if (::sched_getaffinity(0, sizeof usable, &usable) != 0) {
    threads_.emplace_back([this](const std::stop_token& stop) { Watch(stop, -1); });
    return;
  }
  for (int processor = 0; processor < CPU_SETSIZE; ++processor) {
    if (CPU_ISSET(processor, &usable)) {
      threads_.emplace_back(
          [this, processor](const std::stop_token& stop) { Watch(stop, processor); });
    }
  }
}

void StallWatch::Watch(const std::stop_token& stop, int processor) {
  if (processor >= 0) {
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(processor, &only);
    ::pthread_setaffinity_np(::pthread_self(), sizeof only, &only);  // unpinned if refused
  }
  Clock::time_point before = Clock::now();
  while (!stop.stop_requested()) {
    std::this_thread::sleep_for(kStep);
    const Clock::time_point now = Clock::now();
    const double lateMs = Milliseconds(now - before - kStep);
    if (lateMs > kStallMs) {
      const std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back({now, lateMs});
    }
    before = now;
  }
}

std::vector<MachineStall> StallWatch::Since(Clock::time_point origin) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<MachineStall> stalls;
  for (const Seen& seen : seen_) {
    stalls.push_back({Milliseconds(seen.end - origin) / 1000, seen.lengthMs});
  }
  return stalls;
}

void PrintStalls(const std::vector<MachineStall>& stalls) {
  for (const MachineStall& stall : stalls) {
    std::printf("[ measured ] the machine held the test's own thread %.0f ms, until %.2f s\n",
                stall.lengthMs, stall.endSeconds);
  }
}

std::vector<size_t> UnexplainedByStalls(const std::vector<size_t>& positions, long soundStart,
                                        const std::vector<MachineStall>& stalls, const char* what) {
  std::vector<size_t> unexplained;
  for (size_t position : positions) {
    const double at =
        (static_cast<double>(position) - static_cast<double>(soundStart)) / kRecordRate;
    bool explained = false;
    for (const MachineStall& stall : stalls) {
      const double began = stall.endSeconds - stall.lengthMs / 1000;
      explained =
          explained || (at >= began - kBeforeSeconds && at <= stall.endSeconds + kAfterSeconds);
    }
    if (explained) {
      std::printf("[ measured ] the %s at %.2f s follows a stall of the machine\n", what, at);
    } else {
      unexplained.push_back(position);
    }
  }
  return unexplained;
}

}  // namespace twtest
