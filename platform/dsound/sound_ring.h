// The byte ring behind every sound buffer, shared by the program (which locks
// and unlocks spans of it) and a device stream (which moves bytes between it
// and the device on the stream's own thread).
//
// The ring's bytes live in 64-bit atomic words, and Lock hands out a private
// copy of the span that Unlock stores back: the program's plain memcpy never
// touches memory that the device thread reads or writes at the same moment,
// even when a late writer or reader is lapped by the device. Each ring has
// one writer (the device for capture, the program for playback), so a span
// that starts or ends inside a word can update it by load, merge and store.
// The cursor is an atomic that the device side alone advances.
#pragma once

#include <dsound.h>
#include <mmsystem.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/win32/kernel_object.h"

namespace twplat::sound {

class SoundRing {
 public:
  SoundRing() = default;
  ~SoundRing();
  SoundRing(const SoundRing&) = delete;
  SoundRing& operator=(const SoundRing&) = delete;

  // Filled with silence; false when memory is short.
  bool Allocate(const WAVEFORMATEX& format, DWORD bytes);

  DWORD size() const { return size_; }
  const WAVEFORMATEX& format() const { return format_; }

  // Program side, one thread at a time.
  //
  // The span of bytes at offset comes as region 1 up to the ring's end and,
  // when it wraps, region 2 from offset 0 (null and 0 otherwise, or when the
  // caller passed no place for it). The regions hold the ring's present bytes.
  HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1, LPVOID* region2,
               LPDWORD bytes2);
  // writeBack: store the regions into the ring (playback); capture only reads.
  HRESULT Unlock(LPVOID region1, DWORD bytes1, LPVOID region2, DWORD bytes2, bool writeBack);
  DWORD Cursor() const { return cursor_.load(std::memory_order_acquire); }
  void SetGain(std::int32_t gain) { gain_.store(gain, std::memory_order_relaxed); }
  // Playback at a frequency other than the format's (DSBCAPS_CTRLFREQUENCY):
  // allowed before a stream runs, then set at any time.
  void AllowFrequencyControl() { frequencyControl_ = true; }
  bool frequencyControl() const { return frequencyControl_; }
  void SetFrequency(DWORD samplesPerSecond) {
    frequency_.store(samplesPerSecond, std::memory_order_relaxed);
  }
  DWORD Frequency() const { return frequency_.load(std::memory_order_relaxed); }
  // Device side: the set frequency over the format's, the rate the device
  // stream plays at.
  double FrequencyRatio() const {
    return static_cast<double>(Frequency()) / format_.nSamplesPerSec;
  }
  // Only while no stream runs: the device side reads the list without a lock.
  HRESULT SetNotifications(DWORD count, LPCDSBPOSITIONNOTIFY positions);
  void SignalStopNotifications();

  // Device side, one stream at a time. Neither allocates, locks or blocks.
  //
  // Playback: copies bytes from the cursor on into out, applies the gain,
  // advances the cursor and signals the positions it reached.
  void Render(BYTE* out, DWORD bytes);
  // Capture: stores bytes (silence when in is null) at the cursor, advances it
  // and signals the positions it reached.
  void Capture(const BYTE* in, DWORD bytes);

  // Bytes moved by the device side since the ring was made.
  std::uint64_t BytesMoved() const { return moved_.load(std::memory_order_relaxed); }
  // Playback: bytes the program has written ahead of the cursor and the
  // device has not taken yet; 0 once the device has passed them.
  std::uint64_t Queued() const;

 private:
  struct Notification {
    DWORD offset;
    KernelObject* event;
  };
  // The regions of the last Lock.
  struct Locked {
    LPVOID region1 = nullptr;
    DWORD bytes1 = 0;
    LPVOID region2 = nullptr;
    DWORD bytes2 = 0;
    bool operator==(const Locked&) const = default;
  };

  void ReleaseNotifications();
  void SignalReached(DWORD from, DWORD bytes);
  bool InStaging(LPVOID region, DWORD bytes) const;
  // Both wrap at the ring's end, as often as bytes asks.
  void CopyOut(DWORD offset, BYTE* out, DWORD bytes) const;
  void CopyIn(DWORD offset, const BYTE* in, DWORD bytes);
  void FillWith(DWORD offset, BYTE value, DWORD bytes);
  // One span that does not wrap.
  void ReadSpan(DWORD offset, BYTE* out, DWORD bytes) const;
  void WriteSpan(DWORD offset, const BYTE* in, DWORD bytes);
  void MergeIntoWord(DWORD position, const BYTE* in, DWORD bytes);
  bool StagingHoldsRing() const;
  void NoteWrittenTo(DWORD endOffset);

  WAVEFORMATEX format_{};
  DWORD size_ = 0;
  std::unique_ptr<std::atomic<std::uint64_t>[]> shared_;  // size_ bytes, rounded up
  std::unique_ptr<BYTE[]> staging_;                       // same offsets as the ring
  // Program side: staging_ equals the ring, until the program leaves a
  // locked span unstored.
  bool stagingIsRing_ = true;
  Locked locked_;
  std::atomic<bool> deviceWrote_{false};  // a capture ring: the device fills it
  std::atomic<DWORD> cursor_{0};
  std::atomic<std::uint32_t> published_{0};
  std::atomic<std::int32_t> gain_{65536};
  bool frequencyControl_ = false;
  std::atomic<DWORD> frequency_{0};  // the format's rate once allocated
  std::atomic<std::uint64_t> moved_{0};
  // Where the last written span ends, counted like moved_ (so the ring's
  // offset is this modulo size_).
  std::atomic<std::uint64_t> writtenTo_{0};
  std::vector<Notification> notifications_;
};

}  // namespace twplat::sound
