// The built-in devices' one engine thread: it wakes every few milliseconds
// and lets each running built-in stream move the frames that came due by the
// monotonic clock, so those devices keep real-time pace without hardware.
#pragma once

#include <mmsystem.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
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

class BuiltinClock {
 public:
  static BuiltinClock& Get();
  ~BuiltinClock();

  void Add(ClockedStream* stream);
  // When this returns, stream is no longer advanced.
  void Remove(ClockedStream* stream);

  void SetTap(BuiltinOutputTap* tap);
  // For streams, on the clock thread.
  void Tap(const BYTE* bytes, DWORD count, const WAVEFORMATEX& format);

 private:
  BuiltinClock() = default;
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<ClockedStream*> streams_;
  BuiltinOutputTap* tap_ = nullptr;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace twplat::sound
