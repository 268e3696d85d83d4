#include "platform/dsound/capture_pacer.h"

#include <algorithm>
#include <new>

#include "platform/dsound/sound_format.h"

namespace twplat::sound {
namespace {

// The pace is the nominal rate plus 0.5 %: a sound card's crystal is off by
// well under 0.1 %, so a device that runs a little fast never builds up a
// queue (and latency) that grows for as long as it runs.
constexpr double kRateAllowance = 1.005;
// A backlog (sound that came late, a burst) is let in faster in proportion
// to its length, so that it is gone within a few seconds: 2 s queued go in
// at 1.5 times the rate. A reader that looks every few milliseconds keeps up
// with that easily, and the delay it would add does not stay.
constexpr double kCatchUpSeconds = 4.0;

}  // namespace

bool CapturePacer::Allocate(const WAVEFORMATEX& format, DWORD maxBytes) {
  frameBytes_ = format.nBlockAlign > 0 ? format.nBlockAlign : 1;
  const std::uint64_t wanted =
      static_cast<std::uint64_t>(format.nAvgBytesPerSec) * kStagingMs / 1000;
  size_ = static_cast<DWORD>(std::min<std::uint64_t>(wanted, maxBytes));
  size_ -= size_ % frameBytes_;
  staging_.reset(new (std::nothrow) BYTE[size_ > 0 ? size_ : 1]);
  silence_ = SilenceByte(format.wBitsPerSample);
  bytesPerUs_ = format.nAvgBytesPerSec * kRateAllowance / 1e6;
  maxCredit_ = static_cast<double>(format.nAvgBytesPerSec) * kAheadMs / 1000;
  credit_ = maxCredit_;
  return staging_ != nullptr && size_ > 0;
}

void CapturePacer::Push(const BYTE* in, DWORD bytes) {
  if (bytes > size_) {  // only the newest size_ bytes can stay
    dropped_ += bytes - size_;
    in = in != nullptr ? in + (bytes - size_) : nullptr;
    bytes = size_;
  }
  const DWORD overflow = queued_ + bytes > size_ ? queued_ + bytes - size_ : 0;
  head_ = (head_ + overflow) % size_;
  queued_ -= overflow;
  dropped_ += overflow;
  DWORD tail = (head_ + queued_) % size_;
  for (DWORD done = 0; done < bytes;) {
    const DWORD part = std::min(bytes - done, size_ - tail);
    if (in != nullptr) {
      std::copy(in + done, in + done + part, staging_.get() + tail);
    } else {
      std::fill(staging_.get() + tail, staging_.get() + tail + part, silence_);
    }
    done += part;
    tail = (tail + part) % size_;
  }
  queued_ += bytes;
}

DWORD CapturePacer::Release(SoundRing& ring, std::uint64_t nowUs) {
  if (started_ && nowUs > lastUs_) {
    const double backlogSeconds = queued_ / (bytesPerUs_ * 1e6);
    const double pace = bytesPerUs_ * (1 + backlogSeconds / kCatchUpSeconds);
    credit_ = std::min(maxCredit_, credit_ + static_cast<double>(nowUs - lastUs_) * pace);
  }
  started_ = true;
  lastUs_ = std::max(lastUs_, nowUs);
  // Never more than the ring holds at once: the rest would lap the reader.
  DWORD due = static_cast<DWORD>(std::min<double>(credit_, std::min(queued_, ring.size())));
  due -= due % frameBytes_;
  if (due > 0) {
    credit_ -= Take(ring, due);
  }
  return queued_;
}

// Hands the oldest bytes to the ring in at most two contiguous parts.
DWORD CapturePacer::Take(SoundRing& ring, DWORD bytes) {
  const DWORD first = std::min(bytes, size_ - head_);
  ring.Capture(staging_.get() + head_, first);
  if (bytes > first) {
    ring.Capture(staging_.get(), bytes - first);
  }
  head_ = (head_ + bytes) % size_;
  queued_ -= bytes;
  return bytes;
}

}  // namespace twplat::sound
