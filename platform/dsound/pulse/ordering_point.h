// An ordering point for the thread checker, where memory passes between a
// control thread and the sound server's main
// loop thread. The main loop's own lock orders the two, but that lock lives
// in a library the thread checker cannot see into; an atomic
// read-modify-write at each hand-over (before a request can call back, at the
// start and end of every callback, after the callbacks are over) states the
// same order in a form it can check. One process-wide counter, initialised
// before any thread runs, so no callback meets a freshly made atomic; it
// costs one uncontended atomic per call.
#pragma once

#include <atomic>
#include <cstdint>

namespace twplat::sound {

class OrderingPoint {
 public:
  static void Mark() { turns_.fetch_add(1, std::memory_order_acq_rel); }

 private:
  static constinit inline std::atomic<std::uint32_t> turns_{0};
};

// Marks the order on entry and on exit of a callback.
class CallbackScope {
 public:
  CallbackScope() { OrderingPoint::Mark(); }
  ~CallbackScope() { OrderingPoint::Mark(); }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
};

}  // namespace twplat::sound
