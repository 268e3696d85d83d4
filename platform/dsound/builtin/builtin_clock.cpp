#include "platform/dsound/builtin/builtin_clock.h"

#include <algorithm>

#include "platform/env/environment.h"

namespace twplat::sound {
namespace {

// 5 ms ticks keep the built-in devices' latency well under that of a sound
// server stream, at a negligible cost in wake-ups.
#ifdef TW_FREE_RUNNING_OUTPUT
constexpr std::chrono::microseconds kTick{200};  // the fuzzers' build: see builtin_streams.cpp
#else
constexpr std::chrono::microseconds kTick{5000};
#endif

}  // namespace

BuiltinClock::BuiltinClock()
    : epoch_(std::chrono::steady_clock::now()),
      ppm_(static_cast<std::int32_t>(env::Read(env::kBuiltinClockPpm))) {}

std::chrono::steady_clock::time_point BuiltinClock::Now() const {
  const auto real = std::chrono::steady_clock::now();
  if (ppm_ == 0) {
    return real;
  }
  const std::chrono::duration<double, std::nano> since = real - epoch_;
  const std::chrono::duration<double, std::nano> skew = since * (ppm_ * 1e-6);
  return real + std::chrono::duration_cast<std::chrono::steady_clock::duration>(skew);
}

BuiltinClock& BuiltinClock::Get() {
  static BuiltinClock clock;
  return clock;
}

BuiltinClock::~BuiltinClock() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void BuiltinClock::Add(ClockedStream* stream) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    streams_.push_back(stream);
    if (!thread_.joinable()) {
      thread_ = std::thread([this] { Run(); });
    }
  }
  wake_.notify_all();
}

void BuiltinClock::Remove(ClockedStream* stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

void BuiltinClock::SetTap(BuiltinOutputTap* tap) {
  std::lock_guard<std::mutex> lock(mutex_);
  tap_ = tap;
}

void BuiltinClock::Tap(const BYTE* bytes, DWORD count, const WAVEFORMATEX& format) {
  if (tap_ != nullptr) {
    tap_->Played(bytes, count, format);
  }
}

// The lock is held while the streams copy (a few kilobytes per tick), never
// while the thread waits.
void BuiltinClock::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (streams_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    const auto deviceNow = Now();
    for (ClockedStream* stream : streams_) {
      stream->Advance(deviceNow);
    }
    wake_.wait_until(lock, now + kTick);
  }
}

}  // namespace twplat::sound

void twplat::SetBuiltinOutputTap(BuiltinOutputTap* tap) {
  twplat::sound::BuiltinClock::Get().SetTap(tap);
}
