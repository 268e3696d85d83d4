#include "platform/dsound/sound_ring.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "platform/dsound/pcm_gain.h"
#include "platform/dsound/sound_format.h"

namespace twplat::sound {
namespace {

constexpr DWORD kWordBytes = sizeof(std::uint64_t);

// The byte at a ring position inside the word that holds it (memory order,
// so that whole words copy with memcpy).
BYTE ByteOf(std::uint64_t word, DWORD position) {
  BYTE bytes[kWordBytes];
  std::memcpy(bytes, &word, kWordBytes);
  return bytes[position % kWordBytes];
}

}  // namespace

SoundRing::~SoundRing() { ReleaseNotifications(); }

bool SoundRing::Allocate(const WAVEFORMATEX& format, DWORD bytes) {
  const std::size_t words = (static_cast<std::size_t>(bytes) + kWordBytes - 1) / kWordBytes;
  shared_.reset(new (std::nothrow) std::atomic<std::uint64_t>[words]());
  staging_.reset(new (std::nothrow) BYTE[bytes]());
  if (shared_ == nullptr || staging_ == nullptr) {
    return false;
  }
  format_ = format;
  format_.cbSize = 0;
  size_ = bytes;
  frequency_.store(format.nSamplesPerSec, std::memory_order_relaxed);
  const BYTE silence = SilenceByte(format.wBitsPerSample);
  FillWith(0, silence, bytes);
  std::fill(staging_.get(), staging_.get() + bytes, silence);
  return true;
}

HRESULT SoundRing::Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1, LPVOID* region2,
                        LPDWORD bytes2) {
  if (region1 == nullptr || bytes1 == nullptr || offset >= size_ || bytes == 0 || bytes > size_) {
    return DSERR_INVALIDPARAM;
  }
  const DWORD first = std::min(bytes, size_ - offset);
  const bool wraps = first < bytes && region2 != nullptr && bytes2 != nullptr;
  const DWORD second = wraps ? bytes - first : 0;
  if (!StagingHoldsRing()) {
    CopyOut(offset, staging_.get() + offset, first);
    CopyOut(0, staging_.get(), second);
  }
  locked_ = {staging_.get() + offset, first, wraps ? staging_.get() : nullptr, second};
  *region1 = staging_.get() + offset;
  *bytes1 = first;
  if (region2 != nullptr) {
    *region2 = wraps ? staging_.get() : nullptr;
  }
  if (bytes2 != nullptr) {
    *bytes2 = second;
  }
  return DS_OK;
}

HRESULT SoundRing::Unlock(LPVOID region1, DWORD bytes1, LPVOID region2, DWORD bytes2,
                          bool writeBack) {
  if (!InStaging(region1, bytes1) || !InStaging(region2, bytes2)) {
    return DSERR_INVALIDPARAM;
  }
  const Locked unlocked = {region1, bytes1, region2, bytes2};
  if (!writeBack || !(unlocked == locked_)) {
    stagingIsRing_ = false;  // the program may have changed bytes it does not store
  }
  if (writeBack) {
    DWORD end = 0;
    if (region1 != nullptr) {
      const auto* start = static_cast<const BYTE*>(region1);
      CopyIn(static_cast<DWORD>(start - staging_.get()), start, bytes1);
      end = static_cast<DWORD>(start - staging_.get()) + bytes1;
    }
    if (region2 != nullptr && bytes2 > 0) {
      const auto* start = static_cast<const BYTE*>(region2);
      CopyIn(static_cast<DWORD>(start - staging_.get()), start, bytes2);
      end = static_cast<DWORD>(start - staging_.get()) + bytes2;
    }
    if (bytes1 + static_cast<std::uint64_t>(bytes2) > 0) {
      NoteWrittenTo(end % size_);
    }
    published_.fetch_add(1, std::memory_order_release);
  }
  return DS_OK;
}

HRESULT SoundRing::SetNotifications(DWORD count, LPCDSBPOSITIONNOTIFY positions) {
  if (count > 0 && positions == nullptr) {
    return DSERR_INVALIDPARAM;
  }
  for (DWORD i = 0; i < count; ++i) {
    const bool offsetValid =
        positions[i].dwOffset < size_ || positions[i].dwOffset == DSBPN_OFFSETSTOP;
    if (!offsetValid || ObjectFromHandle(positions[i].hEventNotify) == nullptr) {
      return DSERR_INVALIDPARAM;
    }
  }
  ReleaseNotifications();
  notifications_.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    // The ring keeps the event alive even if its handle is closed first.
    KernelObject* event = ObjectFromHandle(positions[i].hEventNotify);
    event->AddRef();
    notifications_.push_back(Notification{positions[i].dwOffset, event});
  }
  return DS_OK;
}

void SoundRing::SignalStopNotifications() {
  for (const Notification& entry : notifications_) {
    if (entry.offset == DSBPN_OFFSETSTOP) {
      entry.event->Signal();
    }
  }
}

void SoundRing::Render(BYTE* out, DWORD bytes) {
  published_.load(std::memory_order_acquire);
  const DWORD from = cursor_.load(std::memory_order_relaxed);
  CopyOut(from, out, bytes);
  ApplyGain(out, bytes, format_.wBitsPerSample, gain_.load(std::memory_order_relaxed));
  cursor_.store(static_cast<DWORD>((from + static_cast<std::uint64_t>(bytes)) % size_),
                std::memory_order_release);
  moved_.fetch_add(bytes, std::memory_order_relaxed);
  SignalReached(from, bytes);
}

void SoundRing::Capture(const BYTE* in, DWORD bytes) {
  if (!deviceWrote_.load(std::memory_order_relaxed)) {
    deviceWrote_.store(true, std::memory_order_release);
  }
  const DWORD from = cursor_.load(std::memory_order_relaxed);
  if (in != nullptr) {
    CopyIn(from, in, bytes);
  } else {
    FillWith(from, SilenceByte(format_.wBitsPerSample), bytes);
  }
  cursor_.store(static_cast<DWORD>((from + static_cast<std::uint64_t>(bytes)) % size_),
                std::memory_order_release);
  moved_.fetch_add(bytes, std::memory_order_relaxed);
  SignalReached(from, bytes);
}

// A span the program writes lies ahead of the cursor: it ends within one
// ring of it, and a span ending right at the cursor filled the whole ring.
void SoundRing::NoteWrittenTo(DWORD endOffset) {
  const std::uint64_t moved = moved_.load(std::memory_order_relaxed);
  const auto cursor = static_cast<DWORD>(moved % size_);
  const DWORD ahead = endOffset > cursor ? endOffset - cursor : endOffset + size_ - cursor;
  writtenTo_.store(moved + ahead, std::memory_order_relaxed);
}

std::uint64_t SoundRing::Queued() const {
  const std::uint64_t written = writtenTo_.load(std::memory_order_relaxed);
  const std::uint64_t moved = moved_.load(std::memory_order_relaxed);
  return written > moved ? written - moved : 0;
}

void SoundRing::ReleaseNotifications() {
  for (const Notification& entry : notifications_) {
    entry.event->Release();
  }
  notifications_.clear();
}

// A position is reached when the cursor, moving from `from` by `bytes`,
// arrives at it or passes it; the starting point itself was reached before.
// An event that several reached positions share is signalled once: a second
// Signal before anyone waits changes nothing but costs a system call.
void SoundRing::SignalReached(DWORD from, DWORD bytes) {
  const KernelObject* signalled = nullptr;
  for (const Notification& entry : notifications_) {
    if (entry.offset == DSBPN_OFFSETSTOP) {
      continue;
    }
    DWORD ahead = entry.offset >= from ? entry.offset - from : entry.offset + size_ - from;
    if (ahead == 0) {
      ahead = size_;
    }
    if (ahead <= bytes && entry.event != signalled) {
      entry.event->Signal();
      signalled = entry.event;
    }
  }
}

// The program is a playback ring's only writer and stores back every span
// it locks: then the staging copy already holds the ring's bytes and a Lock
// need not read them again.
bool SoundRing::StagingHoldsRing() const {
  return stagingIsRing_ && !deviceWrote_.load(std::memory_order_acquire);
}

bool SoundRing::InStaging(LPVOID region, DWORD bytes) const {
  if (region == nullptr) {
    return true;
  }
  const auto* start = static_cast<const BYTE*>(region);
  const BYTE* base = staging_.get();
  return start >= base && start < base + size_ && bytes <= static_cast<DWORD>(base + size_ - start);
}

// A device may ask for more than the ring holds at once (a sound server's
// queue, a slow clock tick against a tiny ring): the looping ring then plays
// its bytes again, as a card's cursor does that goes round more than once.
void SoundRing::CopyOut(DWORD offset, BYTE* out, DWORD bytes) const {
  while (bytes > 0) {
    const DWORD part = std::min(bytes, size_ - offset);
    ReadSpan(offset, out, part);
    out += part;
    bytes -= part;
    offset = 0;
  }
}

// Of more than a ring's worth only the newest bytes stay, where a cursor
// going round would have left them.
void SoundRing::CopyIn(DWORD offset, const BYTE* in, DWORD bytes) {
  if (bytes > size_) {
    const DWORD lapped = bytes - size_;
    offset = static_cast<DWORD>((offset + static_cast<std::uint64_t>(lapped)) % size_);
    in += lapped;
    bytes = size_;
  }
  const DWORD first = std::min(bytes, size_ - offset);
  WriteSpan(offset, in, first);
  WriteSpan(0, in + first, bytes - first);
}

// Silence for the device side without a buffer to copy it from: one word's
// worth at a time.
void SoundRing::FillWith(DWORD offset, BYTE value, DWORD bytes) {
  BYTE pattern[kWordBytes * 64];
  std::fill(std::begin(pattern), std::end(pattern), value);
  for (DWORD done = 0; done < bytes;) {
    const DWORD part = std::min<DWORD>(bytes - done, sizeof pattern);
    CopyIn((offset + done) % size_, pattern, part);
    done += part;
  }
}

// Whole words in the middle, single bytes of the words at either end.
void SoundRing::ReadSpan(DWORD offset, BYTE* out, DWORD bytes) const {
  DWORD position = offset;
  const DWORD end = offset + bytes;
  for (; position < end && position % kWordBytes != 0; ++position) {
    *out++ = ByteOf(shared_[position / kWordBytes].load(std::memory_order_relaxed), position);
  }
  for (; position + kWordBytes <= end; position += kWordBytes, out += kWordBytes) {
    const std::uint64_t word = shared_[position / kWordBytes].load(std::memory_order_relaxed);
    std::memcpy(out, &word, kWordBytes);
  }
  for (; position < end; ++position) {
    *out++ = ByteOf(shared_[position / kWordBytes].load(std::memory_order_relaxed), position);
  }
}

// Whole words in the middle; the ring's one writer may merge bytes into a
// word at either end that it shares with bytes outside the span: nobody
// else stores to it meanwhile.
void SoundRing::WriteSpan(DWORD offset, const BYTE* in, DWORD bytes) {
  DWORD position = offset;
  const DWORD end = offset + bytes;
  if (position % kWordBytes != 0 && position < end) {
    const DWORD part = std::min<DWORD>(kWordBytes - position % kWordBytes, end - position);
    MergeIntoWord(position, in, part);
    position += part;
    in += part;
  }
  for (; position + kWordBytes <= end; position += kWordBytes, in += kWordBytes) {
    std::uint64_t word = 0;
    std::memcpy(&word, in, kWordBytes);
    shared_[position / kWordBytes].store(word, std::memory_order_relaxed);
  }
  if (position < end) {
    MergeIntoWord(position, in, end - position);
  }
}

void SoundRing::MergeIntoWord(DWORD position, const BYTE* in, DWORD bytes) {
  std::atomic<std::uint64_t>& slot = shared_[position / kWordBytes];
  std::uint64_t word = slot.load(std::memory_order_relaxed);
  std::memcpy(reinterpret_cast<BYTE*>(&word) + position % kWordBytes, in, bytes);
  slot.store(word, std::memory_order_relaxed);
}

}  // namespace twplat::sound
