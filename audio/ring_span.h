// What the capture ring and the playback ring do alike with a sound buffer:
// the notification positions, and a span of the ring locked, copied and
// unlocked.
#pragma once

#include <winsock2.h>

#include <dsound.h>
#include <windows.h>

// The error reporter's names for the two steps of setting the positions.
struct NotifyStepNames {
  const char* query;
  const char* set;
};

// Eight positions, an eighth of span apart from offset 0, all signalling
// event. Returns the status of the last step; a failed step has been
// reported under its name.
HRESULT SetEightNotifyPositions(IUnknown* buffer, HANDLE event, LONG span,
                                const NotifyStepNames& names);

// A locked span: the part up to the ring's end and, when it wraps, the part
// from its start.
struct RingSpan {
  LPVOID region1 = nullptr;
  DWORD bytes1 = 0;
  LPVOID region2 = nullptr;
  DWORD bytes2 = 0;

  LONG bytes() const { return static_cast<LONG>(bytes1 + (region2 != nullptr ? bytes2 : 0)); }
  void CopyTo(BYTE* destination) const;
  void CopyFrom(const BYTE* source) const;
};

// Buffer: IDirectSoundCaptureBuffer or IDirectSoundBuffer.
template <typename Buffer>
HRESULT LockSpan(Buffer* buffer, LONG offset, LONG length, RingSpan& span) {
  return buffer->Lock(static_cast<DWORD>(offset), static_cast<DWORD>(length), &span.region1,
                      &span.bytes1, &span.region2, &span.bytes2, 0);
}

template <typename Buffer>
HRESULT UnlockSpan(Buffer* buffer, const RingSpan& span) {
  return buffer->Unlock(span.region1, span.bytes1, span.region2, span.bytes2);
}
