#include "audio/playback_ring.h"

#include <commctrl.h>

#include <cstring>

#include "audio/ring_span.h"
#include "core/app_state.h"
#include "core/error_reporter.h"

namespace {

constexpr DWORD kRoomWaitMs = 500;
constexpr DWORD kDrainStepMs = 10;
constexpr int kDrainSteps = 100;  // a second: the quarter-second ring, the tail and slack

WAVEFORMATEX FormatOf(const StreamHeader& header) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = LOWORD(header.channels);
  format.nSamplesPerSec = header.samplesPerSecond;
  format.nAvgBytesPerSec = header.averageBytesPerSecond;
  format.nBlockAlign = LOWORD(header.blockAlign);
  format.wBitsPerSample = LOWORD(header.bitsPerSample);
  format.cbSize = 0;
  return format;
}

void ApplyVolume(IDirectSoundBuffer* buffer) {
  const LONG volume = appState.volume.load();
  if (volume != appState.appliedVolume.load()) {
    buffer->SetVolume(volume);
    appState.appliedVolume.store(volume);
  }
}

// Bytes ahead of the play cursor. The cursor keeps the device's pace even
// when the stream falls behind; once it has overtaken writeOffset the ring
// plays older sound, and the writer goes on from the write cursor rather
// than behind the play cursor, where what it writes would wait almost a
// whole ring (a delay that would last).
LONG QueuedBytes(PlaybackContext& context, DWORD playCursor, DWORD writeCursor) {
  LONG used = context.writeOffset - static_cast<LONG>(playCursor);
  if (used < 0) {
    used += context.bufferBytes;
  }
  if (used > context.queuedBytes) {
    context.writeOffset = static_cast<LONG>(writeCursor);
    used = static_cast<LONG>(writeCursor) - static_cast<LONG>(playCursor);
    used = used < 0 ? used + context.bufferBytes : used;
  }
  context.queuedBytes = used;
  return used;
}

// Bytes the writer may add at writeOffset. One frame always stays free, so
// a full ring never looks empty (writeOffset back on the play cursor).
// Before Play the ring holds exactly what was written; once playing, equal
// cursors mean a stopped or lost buffer and the whole ring is free (a lost
// buffer's Lock then leads to Restore).
LONG RoomFor(PlaybackContext& context, DWORD playCursor, DWORD writeCursor) {
  LONG used = context.prefilledBytes;
  if (context.playing) {
    if (playCursor == writeCursor) {
      return context.bufferBytes;
    }
    used = QueuedBytes(context, playCursor, writeCursor);
  }
  const LONG gap = context.frameBytes < context.bufferBytes / 2 ? context.frameBytes : 1;
  const LONG room = context.bufferBytes - used - gap;
  return room > 0 ? room : 0;
}

// Waits in steps of at most 500 ms until there is room, showing the queued
// amount on every pass; a stopped ring that is full starts playing. Returns
// the room, or 0 on a stop request or a failed query.
LONG WaitForRoom(PlaybackContext& context) {
  for (;;) {
    DWORD playCursor = 0;
    DWORD writeCursor = 0;
    const HRESULT result = context.playbackBuffer->GetCurrentPosition(&playCursor, &writeCursor);
    if (FAILED(result)) {
      ReportError("GetCurrentPosition in playback", result);
      return 0;
    }
    const LONG room = RoomFor(context, playCursor, writeCursor);
    PostMessageA(appState.bufferMeter.load(), PBM_SETPOS,
                 static_cast<WPARAM>(context.bufferBytes - room), 0);
    if (room > 0) {
      return room;
    }
    if (!context.playing) {
      StartPlaybackRing(context);
      continue;
    }
    WaitForSingleObject(context.notifyEvent, kRoomWaitMs);
    if (StopRequested()) {
      return 0;
    }
  }
}

// One part that fits the room, at writeOffset.
bool WritePart(PlaybackContext& context, const BYTE* source, LONG length) {
  IDirectSoundBuffer* buffer = context.playbackBuffer;
  RingSpan span;
  HRESULT result = LockSpan(buffer, context.writeOffset, length, span);
  if (result == DSERR_BUFFERLOST) {
    buffer->Restore();
    result = LockSpan(buffer, context.writeOffset, length, span);
  }
  if (FAILED(result)) {
    ReportError("Playback Lock", result);
    return false;
  }
  span.CopyFrom(source);
  result = UnlockSpan(buffer, span);
  if (FAILED(result)) {
    ReportError("Playback Unlock", result);
    return false;
  }
  context.writeOffset = (context.writeOffset + length) % context.bufferBytes;
  if (!context.playing) {
    context.prefilledBytes += length;
  }
  if (context.queuedBytes < context.bufferBytes) {
    context.queuedBytes += length;
  }
  return true;
}

}  // namespace

HRESULT SetUpPlaybackBuffer(PlaybackContext& context, IDirectSound* device,
                            IDirectSoundBuffer** bufferOut) {
  if (device == nullptr || bufferOut == nullptr) {
    return E_INVALIDARG;
  }
  const StreamHeader header = appState.currentHeader.Get();
  context.bufferBytes = static_cast<LONG>(header.averageBytesPerSecond) / 4;
  WAVEFORMATEX format = FormatOf(header);
  DSBUFFERDESC description{};
  description.dwSize = sizeof(DSBUFFERDESC);
  description.dwFlags = kPlaybackBufferFlags;
  description.dwBufferBytes = static_cast<DWORD>(context.bufferBytes);
  description.dwReserved = 0;
  description.lpwfxFormat = &format;
  HRESULT result = device->CreateSoundBuffer(&description, bufferOut, nullptr);
  if (FAILED(result)) {
    ReportError("CreateSoundBuffer", result);
    return result;
  }
  appState.appliedVolume.store(-1);
  // A new buffer plays from offset 0, so writing starts there too; an offset
  // left by a larger buffer of an earlier connection would not even lie
  // inside this one.
  context.writeOffset = 0;
  context.frameBytes = header.blockAlign > 0 ? static_cast<LONG>(header.blockAlign) : 1;
  context.playing = false;
  context.prefilledBytes = 0;
  context.queuedBytes = 0x7FFFFFFF;
  // Spread over the whole ring, an eighth apart.
  result = SetEightNotifyPositions(*bufferOut, context.notifyEvent, context.bufferBytes,
                                   {"Query Notify Interface", "Playback SetNotificationPositions"});
  if (FAILED(result)) {
    return result;
  }
  SendMessageA(appState.bufferMeter.load(), PBM_SETRANGE32, 0, context.bufferBytes);
  return result;
}

// A chunk goes in as fast as the play cursor frees room: a ring smaller than
// a chunk (a header of under 98304 bytes per second) plays steadily instead
// of waiting for the whole ring to be free.
bool WritePlaybackBlock(PlaybackContext& context, const void* source, LONG length) {
  ApplyVolume(context.playbackBuffer);
  if (StopRequested()) {
    return false;
  }
  const auto* bytes = static_cast<const BYTE*>(source);
  LONG written = 0;
  while (written < length) {
    const LONG room = WaitForRoom(context);
    const LONG part = length - written < room ? length - written : room;
    if (part == 0 || !WritePart(context, bytes + written, part)) {
      return false;
    }
    written += part;
  }
  return true;
}

LONG LookAtPlaybackRing(PlaybackContext& context, LONG* queued) {
  DWORD playCursor = 0;
  DWORD writeCursor = 0;
  const HRESULT result = context.playbackBuffer->GetCurrentPosition(&playCursor, &writeCursor);
  if (FAILED(result)) {
    ReportError("GetCurrentPosition in playback", result);
    return -1;
  }
  const LONG room = RoomFor(context, playCursor, writeCursor);
  PostMessageA(appState.bufferMeter.load(), PBM_SETPOS,
               static_cast<WPARAM>(context.bufferBytes - room), 0);
  const bool still = context.playing && playCursor == writeCursor;
  *queued = still ? 0 : (context.playing ? context.queuedBytes : context.prefilledBytes);
  return room;
}

void StartPlaybackRing(PlaybackContext& context) {
  if (context.playing) {
    return;
  }
  context.playing = true;
  context.queuedBytes = context.prefilledBytes;
  const HRESULT played = context.playbackBuffer->Play(0, 0, DSBPLAY_LOOPING);
  if (FAILED(played)) {
    ReportError("Play", played);
  }
}

// Fills the room behind the last sound with silence, so that the cursor,
// moving on at the device's pace, plays silence and not older ring contents.
bool TopUpWithSilence(PlaybackContext& context, DWORD playCursor, DWORD writeCursor) {
  BYTE silence[4096];
  std::memset(silence, appState.currentHeader.Get().bitsPerSample == 8 ? 0x80 : 0x00,
              sizeof silence);
  LONG room = RoomFor(context, playCursor, writeCursor);
  room -= room % context.frameBytes;
  while (room > 0) {
    const LONG part = room < static_cast<LONG>(sizeof silence) ? room : sizeof silence;
    if (!WritePart(context, silence, part)) {
      return false;
    }
    room -= part;
  }
  return true;
}

bool DrainPlaybackRing(PlaybackContext& context) {
  if (context.playbackBuffer == nullptr || (!context.playing && context.prefilledBytes == 0)) {
    return context.playbackBuffer != nullptr;
  }
  StartPlaybackRing(context);
  DWORD play = 0;
  DWORD write = 0;
  if (FAILED(context.playbackBuffer->GetCurrentPosition(&play, &write)) || play == write) {
    return false;  // not playing: nothing more will be heard
  }
  // What the cursor still has to move: the queued sound, then a tenth of a
  // second of silence for the device's own queue to play out.
  LONG left = context.writeOffset - static_cast<LONG>(play);
  left = (left < 0 ? left + context.bufferBytes : left) +
         static_cast<LONG>(appState.currentHeader.Get().averageBytesPerSecond) / 10;
  for (int step = 0; step < kDrainSteps && !StopRequested(); ++step) {
    if (!TopUpWithSilence(context, play, write)) {
      return false;
    }
    Sleep(kDrainStepMs);
    const DWORD last = play;
    if (FAILED(context.playbackBuffer->GetCurrentPosition(&play, &write)) || play == write) {
      return false;
    }
    const LONG moved = static_cast<LONG>(play) - static_cast<LONG>(last);
    left -= moved < 0 ? moved + context.bufferBytes : moved;
    if (left <= 0) {
      return true;
    }
  }
  return false;
}

void ReleasePlaybackBuffer(PlaybackContext& context) {
  if (context.playbackBuffer != nullptr) {
    context.playbackBuffer->Stop();
    context.playbackBuffer->Release();
    context.playbackBuffer = nullptr;
  }
}
