// The built-in devices' one engine thread: it wakes every few milliseconds
// and lets each running built-in stream move the frames that came due by the
// monotonic clock, so those devices keep real-time pace without hardware.
#pragma once

#include <mmsystem.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dsound/builtin/output_tap.h"

namespace twplat::sound {

class ClockedStream {
 public:
  virtual ~ClockedStream() = default;
  // Called on the clock thread with the clock's lock held.
  virtual void Advance(std::chrono::steady_clock::time_point now) = 0;
};

// The built-in devices keep the time of their own clock: the monotonic clock
// run fast or slow by TONEWIRE_BUILTIN_CLOCK_PPM parts per million (default
// 0, at most 10 %; platform/env), so that one machine can stand for two whose
// sound cards differ.
class BuiltinClock {
 public:
  static BuiltinClock& Get();
  ~BuiltinClock();

  // The devices' time now; streams measure their pace against it.
  std::chrono::steady_clock::time_point Now() const;
  std::int32_t ppm() const { return ppm_; }

  void Add(ClockedStream* stream);
  // When this returns, stream is no longer advanced.
  void Remove(ClockedStream* stream);

  void SetTap(BuiltinOutputTap* tap);
  // For streams, on the clock thread.
  void Tap(const BYTE* bytes, DWORD count, const WAVEFORMATEX& format);

 private:
  BuiltinClock();
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<ClockedStream*> streams_;
  BuiltinOutputTap* tap_ = nullptr;
  bool quit_ = false;
  const std::chrono::steady_clock::time_point epoch_;
  const std::int32_t ppm_;
  std::thread thread_;
};

}  // namespace twplat::sound
