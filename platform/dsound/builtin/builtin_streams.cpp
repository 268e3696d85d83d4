#include "platform/dsound/builtin/builtin_streams.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "platform/dsound/builtin/builtin_clock.h"
#include "platform/dsound/builtin/test_tone.h"

namespace twplat::sound {
namespace {

// Frames moved per step: 50 ms, ten ticks' worth.
constexpr DWORD kChunkDivisor = 20;
// After a stall longer than this (a suspended process, a debugger) the
// stream skips ahead instead of racing through the backlog.
constexpr std::uint64_t kMaxBacklogSeconds = 1;

#ifdef TW_FREE_RUNNING_OUTPUT
// The fuzzers' build: "Silent output" takes at every tick what was written
// ahead of its cursor, as fast as sound is written, so that a connection is
// not played in real time.
constexpr bool kFreeRunningOutput = true;
#else
constexpr bool kFreeRunningOutput = false;
#endif

class BuiltinStream final : public DeviceStream, public ClockedStream {
 public:
  BuiltinStream(Direction direction, SoundRing& ring, bool standIn)
      : direction_(direction),
        standIn_(standIn),
        ring_(ring),
        tone_(ring.format()),
        chunkFrames_(ring.format().nSamplesPerSec / kChunkDivisor + 1) {}

  ~BuiltinStream() override { BuiltinClock::Get().Remove(this); }

  bool Start() {
    scratch_.reset(new (std::nothrow) BYTE[chunkFrames_ * ring_.format().nBlockAlign]);
    if (scratch_ == nullptr) {
      return false;
    }
    anchor_ = BuiltinClock::Get().Now();
    BuiltinClock::Get().Add(this);
    return true;
  }

  bool Failed() const override { return false; }

  // Frames come due at the buffer's frequency, on the devices' clock: the
  // built-in device plays a ring faster or slower itself. A new frequency
  // counts from the moment it was seen.
  void Advance(std::chrono::steady_clock::time_point now) override {
    if (kFreeRunningOutput && direction_ == Direction::kPlayback) {
      TakeQueued();
      return;
    }
    const std::uint64_t rate = ring_.format().nSamplesPerSec;
    const double due = FramesDue(now);
    const auto dueFrames = static_cast<std::uint64_t>(due);
    if (dueFrames > framesDone_ + kMaxBacklogSeconds * rate) {
      framesDone_ = dueFrames - chunkFrames_;
    }
    while (framesDone_ < dueFrames) {
      const auto frames =
          static_cast<DWORD>(std::min<std::uint64_t>(dueFrames - framesDone_, chunkFrames_));
      Move(frames);
      framesDone_ += frames;
    }
    const double nextRatio = direction_ == Direction::kPlayback ? ring_.FrequencyRatio() : 1.0;
    if (ratio_ != nextRatio) {
      anchorFrames_ = due;
      anchor_ = now;
      ratio_ = nextRatio;
    }
  }

 private:
  // What was written, and a chunk at the least, as a device's cursor never
  // stands still (a drain waits for it to pass the end of the sound); at
  // most half the ring per tick, as a device's period is: a cursor that
  // moved a whole ring would look to the program as if it had not moved.
  void TakeQueued() {
    const DWORD frameBytes = ring_.format().nBlockAlign;
    const std::uint64_t wanted =
        std::max<std::uint64_t>(ring_.Queued(), std::uint64_t{chunkFrames_} * frameBytes);
    const auto bytes = static_cast<DWORD>(std::min<std::uint64_t>(wanted, ring_.size() / 2));
    const DWORD frames = std::max<DWORD>((bytes + frameBytes - 1) / frameBytes, 1);
    for (DWORD moved = 0; moved < frames; moved += chunkFrames_) {
      Move(std::min(chunkFrames_, frames - moved));
    }
  }

  double FramesDue(std::chrono::steady_clock::time_point now) const {
    const std::chrono::duration<double> elapsed = now - anchor_;
    return anchorFrames_ + elapsed.count() * ring_.format().nSamplesPerSec * ratio_;
  }

  void Move(DWORD frames) {
    const DWORD bytes = frames * ring_.format().nBlockAlign;
    if (direction_ == Direction::kCapture) {
      if (standIn_) {
        ring_.Capture(nullptr, bytes);
        return;
      }
      tone_.Fill(scratch_.get(), frames);
      ring_.Capture(scratch_.get(), bytes);
    } else {
      ring_.Render(scratch_.get(), bytes);
      if (standIn_) {
        return;
      }
      BuiltinClock::Get().Tap(scratch_.get(), bytes, ring_.format());
    }
  }

  const Direction direction_;
  const bool standIn_;  // silence in, nothing out: a device that is away
  SoundRing& ring_;
  TestTone tone_;
  const DWORD chunkFrames_;
  std::unique_ptr<BYTE[]> scratch_;
  std::chrono::steady_clock::time_point anchor_;
  double anchorFrames_ = 0;
  double ratio_ = 1.0;
  std::uint64_t framesDone_ = 0;
};

std::unique_ptr<DeviceStream> Open(Direction direction, SoundRing& ring, bool standIn,
                                   HRESULT* result) {
  auto stream = std::make_unique<BuiltinStream>(direction, ring, standIn);
  if (!stream->Start()) {
    *result = DSERR_OUTOFMEMORY;
    return nullptr;
  }
  *result = DS_OK;
  return stream;
}

}  // namespace

std::unique_ptr<DeviceStream> OpenBuiltinStream(Direction direction, SoundRing& ring,
                                                HRESULT* result) {
  return Open(direction, ring, false, result);
}

std::unique_ptr<DeviceStream> OpenStandInStream(Direction direction, SoundRing& ring) {
  HRESULT result = DS_OK;
  return Open(direction, ring, true, &result);
}

}  // namespace twplat::sound
