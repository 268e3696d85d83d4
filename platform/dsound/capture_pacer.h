// Smooths a capture device's deliveries into its ring. Some sources (virtual
// ones, network ones, a sound server catching up after a stall) hand over
// seconds of sound at once; written straight into a quarter-second ring such
// a burst laps the reader and most of it is lost. The pacer queues what
// arrives and lets it into the ring at the device's rate, as a sound card's
// capture cursor moves (a little faster while a backlog waits, so that a
// delay does not last), while a source that delivers in small fragments
// passes through at once.
//
// Thread contract: the device side only (one thread at a time); Allocate
// before the stream starts. Push and Release neither allocate, lock nor block.
#pragma once

#include <mmsystem.h>
#include <windows.h>

#include <cstdint>
#include <memory>

#include "platform/dsound/sound_ring.h"

namespace twplat::sound {

class CapturePacer {
 public:
  // Sound a burst may hold: the longest burst seen from a sound server's
  // virtual source is 2 s.
  static constexpr DWORD kStagingMs = 4000;
  // A source may run ahead of its ring by this much before pacing holds it
  // back: more than one delivery of a regular source plus its jitter, well
  // under the quarter second a reader has.
  static constexpr DWORD kAheadMs = 100;

  // Staging for kStagingMs of format (at most maxBytes); false when memory
  // is short.
  bool Allocate(const WAVEFORMATEX& format, DWORD maxBytes);

  // Queues bytes from the device (silence when in is null). When the queue is
  // full its oldest sound goes first, as a card's ring overwrites.
  void Push(const BYTE* in, DWORD bytes);
  // Moves into the ring what the device's clock has made due by nowUs (a
  // monotonic time in microseconds); returns the bytes still queued.
  DWORD Release(SoundRing& ring, std::uint64_t nowUs);

  DWORD queued() const { return queued_; }
  std::uint64_t dropped() const { return dropped_; }

 private:
  DWORD Take(SoundRing& ring, DWORD bytes);

  std::unique_ptr<BYTE[]> staging_;
  DWORD size_ = 0;
  DWORD head_ = 0;  // oldest queued byte
  DWORD queued_ = 0;
  DWORD frameBytes_ = 1;
  BYTE silence_ = 0;
  double bytesPerUs_ = 0;
  double credit_ = 0;  // bytes the clock allows into the ring now
  double maxCredit_ = 0;
  std::uint64_t lastUs_ = 0;
  bool started_ = false;
  std::uint64_t dropped_ = 0;
};

}  // namespace twplat::sound
