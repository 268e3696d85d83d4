// The Server's queue between the socket and the playback ring: what arrived
// and does not fit the ring yet. Bytes go in as they come; only whole frames
// come out (a frame cut by the network waits for its other part), so the
// ring never sees a partial frame. A backlog can be skipped, whole frames
// at the front, with a short fade out before the cut and in after it.
//
// Worker thread only. Allocated once per connection.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/byte_buffer.h"

class PlaybackQueue {
 public:
  // capacityBytes is rounded down to whole frames. False when memory is
  // short.
  PlaybackQueue(DWORD capacityBytes, WORD frameBytes, WORD bitsPerSample, DWORD samplesPerSecond);
  bool valid() const { return storage_.valid() && capacity_ > 0; }

  // Appends count bytes (at most the capacity less a frame); when they do
  // not fit, whole frames at the front (the oldest sound) make room.
  void Push(const BYTE* bytes, DWORD count);
  // Whole frames held, in bytes, and all bytes held (with a partial frame).
  DWORD FrameBytes() const { return held_ - held_ % frameBytes_; }
  DWORD Bytes() const { return held_; }
  // The first whole frames, in one run: *run bytes at the returned place
  // (fewer than FrameBytes() where the storage wraps).
  const BYTE* Front(DWORD* run) const;
  void Pop(DWORD bytes);
  // Drops bytes (whole frames) after the first fade's worth, which fades
  // out; the fade's worth after the cut fades in. Fewer when less is held.
  // Returns the bytes dropped.
  DWORD Skip(DWORD bytes);

 private:
  BYTE* FrameAt(DWORD index);
  void Fade(DWORD firstFrame, DWORD frames, bool in);
  void Drop(DWORD fromFrame, DWORD bytes);

  ByteBuffer storage_;
  const DWORD frameBytes_;
  const DWORD capacity_;
  const WORD bitsPerSample_;
  const DWORD fadeFrames_;
  DWORD head_ = 0;  // the first byte held; always at a frame's start
  DWORD held_ = 0;
};
