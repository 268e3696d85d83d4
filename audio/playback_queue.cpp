#include "audio/playback_queue.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD kFadesPerSecond = 200;  // 5 ms

// One sample scaled by gain (0..1), in place: 8-bit samples are unsigned
// around 128, wider ones signed little-endian.
void ScaleSample(BYTE* sample, WORD bits, double gain) {
  if (bits == 8) {
    const int centred = static_cast<int>(sample[0]) - 128;
    sample[0] = static_cast<BYTE>(128 + static_cast<int>(centred * gain));
    return;
  }
  const int bytes = bits / 8;
  std::int32_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value |= static_cast<std::int32_t>(static_cast<std::uint32_t>(sample[i]) << (8 * i));
  }
  value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << (32 - bits)) >>
          (32 - bits);  // sign-extended
  const auto scaled = static_cast<std::int32_t>(value * gain);
  for (int i = 0; i < bytes; ++i) {
    sample[i] = static_cast<BYTE>(static_cast<std::uint32_t>(scaled) >> (8 * i));
  }
}

}  // namespace

PlaybackQueue::PlaybackQueue(DWORD capacityBytes, WORD frameBytes, WORD bitsPerSample,
                             DWORD samplesPerSecond)
    : storage_(capacityBytes),
      frameBytes_(frameBytes > 0 ? frameBytes : 1),
      capacity_(storage_.size() - storage_.size() % frameBytes_),
      bitsPerSample_(bitsPerSample),
      fadeFrames_(std::max<DWORD>(samplesPerSecond / kFadesPerSecond, 1)) {}

void PlaybackQueue::Push(const BYTE* bytes, DWORD count) {
  if (!valid() || count + frameBytes_ > capacity_) {
    return;
  }
  if (held_ + count > capacity_) {
    const DWORD over = held_ + count - capacity_;
    Pop(over + (frameBytes_ - over % frameBytes_) % frameBytes_);
  }
  DWORD tail = (head_ + held_) % capacity_;
  while (count > 0) {
    const DWORD run = std::min(count, capacity_ - tail);
    std::memcpy(storage_.data() + tail, bytes, run);
    bytes += run;
    count -= run;
    held_ += run;
    tail = (tail + run) % capacity_;
  }
}

const BYTE* PlaybackQueue::Front(DWORD* run) const {
  *run = std::min(FrameBytes(), capacity_ - head_);
  return storage_.data() + head_;
}

void PlaybackQueue::Pop(DWORD bytes) {
  bytes = std::min(bytes - bytes % frameBytes_, FrameBytes());
  head_ = (head_ + bytes) % capacity_;
  held_ -= bytes;
}

// Whole frames never wrap: the capacity is whole frames and the head stays
// on a frame's start.
BYTE* PlaybackQueue::FrameAt(DWORD index) {
  return storage_.data() + (head_ + index * frameBytes_) % capacity_;
}

void PlaybackQueue::Fade(DWORD firstFrame, DWORD frames, bool in) {
  const WORD channelBytes = static_cast<WORD>(bitsPerSample_ / 8);
  if (channelBytes == 0) {
    return;
  }
  for (DWORD frame = 0; frame < frames; ++frame) {
    const double step = (frame + 1.0) / (frames + 1.0);
    const double gain = in ? step : 1.0 - step;
    BYTE* at = FrameAt(firstFrame + frame);
    for (DWORD offset = 0; offset + channelBytes <= frameBytes_; offset += channelBytes) {
      ScaleSample(at + offset, bitsPerSample_, gain);
    }
  }
}

DWORD PlaybackQueue::Skip(DWORD bytes) {
  const DWORD frames = FrameBytes() / frameBytes_;
  DWORD cut = bytes / frameBytes_;
  if (frames <= 2 * fadeFrames_ || cut == 0) {
    return 0;
  }
  cut = std::min(cut, frames - 2 * fadeFrames_);
  Fade(0, fadeFrames_, false);
  Fade(fadeFrames_ + cut, fadeFrames_, true);
  Drop(fadeFrames_, cut * frameBytes_);
  return cut * frameBytes_;
}

// Moves the frames before fromFrame forward over the dropped ones, so the
// queue stays one run from its head.
void PlaybackQueue::Drop(DWORD fromFrame, DWORD bytes) {
  for (DWORD frame = fromFrame; frame-- > 0;) {
    std::memmove(FrameAt(frame + bytes / frameBytes_), FrameAt(frame), frameBytes_);
  }
  head_ = (head_ + bytes) % capacity_;
  held_ -= bytes;
}
