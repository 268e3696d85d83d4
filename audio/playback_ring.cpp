#include "audio/playback_ring.h"

#include <commctrl.h>

#include <cstring>

#include "run/app_state.h"
#include "run/error_reporter.h"

namespace {

constexpr DWORD kRoomWaitMs = 500;
constexpr int kNotifyCount = 8;

bool StopRequested() { return appState.stopRequested.load() != 0; }

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

// Spread over the whole ring, an eighth apart.
HRESULT SetPlaybackPositions(PlaybackContext& context, IDirectSoundNotify* notify) {
  DSBPOSITIONNOTIFY positions[kNotifyCount];
  for (LONG k = 0; k < kNotifyCount; ++k) {
    positions[k].dwOffset = static_cast<DWORD>(k * context.bufferBytes / kNotifyCount);
    positions[k].hEventNotify = context.notifyEvent;
  }
  return notify->SetNotificationPositions(kNotifyCount, positions);
}

HRESULT AskForPositions(PlaybackContext& context, IDirectSoundBuffer* buffer) {
  void* notifyObject = nullptr;
  HRESULT result = buffer->QueryInterface(IID_IDirectSoundNotify, &notifyObject);
  if (FAILED(result)) {
    ReportError("Query Notify Interface", result);
    return result;
  }
  auto* notify = static_cast<IDirectSoundNotify*>(notifyObject);
  result = SetPlaybackPositions(context, notify);
  notify->Release();
  if (FAILED(result)) {
    ReportError("Playback SetNotificationPositions", result);
  }
  return result;
}

void ApplyVolume(IDirectSoundBuffer* buffer) {
  const LONG volume = appState.volume.load();
  if (volume != appState.appliedVolume.load()) {
    buffer->SetVolume(volume);
    appState.appliedVolume.store(volume);
  }
}

// Equal cursors mean a stopped buffer: the whole ring is free.
LONG FreeBytes(const PlaybackContext& context, DWORD playCursor, DWORD writeCursor) {
  if (playCursor == writeCursor) {
    return context.bufferBytes;
  }
  LONG used = context.writeOffset - static_cast<LONG>(playCursor);
  if (used < 0) {
    used += context.bufferBytes;
  }
  return context.bufferBytes - used;
}

// Waits in steps of at most 500 ms until length bytes are free, showing the
// queued amount on every pass. False on a stop request or a failed query.
bool WaitForRoom(PlaybackContext& context, LONG length) {
  for (;;) {
    DWORD playCursor = 0;
    DWORD writeCursor = 0;
    const HRESULT result = context.playbackBuffer->GetCurrentPosition(&playCursor, &writeCursor);
    if (FAILED(result)) {
      ReportError("GetCurrentPosition in playback", result);
      return false;
    }
    const LONG free = FreeBytes(context, playCursor, writeCursor);
    PostMessageA(appState.bufferMeter.load(), PBM_SETPOS,
                 static_cast<WPARAM>(context.bufferBytes - free), 0);
    if (free >= length) {
      return true;
    }
    WaitForSingleObject(context.notifyEvent, kRoomWaitMs);
    if (StopRequested()) {
      return false;
    }
  }
}

// One part of at most the ring's size, at writeOffset.
bool WritePart(PlaybackContext& context, const BYTE* source, LONG length) {
  if (!WaitForRoom(context, length)) {
    return false;
  }
  IDirectSoundBuffer* buffer = context.playbackBuffer;
  LPVOID region1 = nullptr;
  LPVOID region2 = nullptr;
  DWORD bytes1 = 0;
  DWORD bytes2 = 0;
  const auto offset = static_cast<DWORD>(context.writeOffset);
  const auto bytes = static_cast<DWORD>(length);
  HRESULT result = buffer->Lock(offset, bytes, &region1, &bytes1, &region2, &bytes2, 0);
  if (result == DSERR_BUFFERLOST) {
    buffer->Restore();
    result = buffer->Lock(offset, bytes, &region1, &bytes1, &region2, &bytes2, 0);
  }
  if (FAILED(result)) {
    ReportError("Playback Lock", result);
    return false;
  }
  std::memcpy(region1, source, bytes1);
  if (region2 != nullptr) {
    std::memcpy(region2, source + bytes1, bytes2);
  }
  result = buffer->Unlock(region1, bytes1, region2, bytes2);
  if (FAILED(result)) {
    ReportError("Playback Unlock", result);
    return false;
  }
  context.writeOffset = (context.writeOffset + length) % context.bufferBytes;
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
  result = AskForPositions(context, *bufferOut);
  if (FAILED(result)) {
    return result;
  }
  SendMessageA(appState.bufferMeter.load(), PBM_SETRANGE32, 0, context.bufferBytes);
  return result;
}

// A chunk longer than the ring could never find room, and the writer would
// wait until a stop; it goes in ring-sized parts instead, each waiting for
// room behind the play cursor.
bool WritePlaybackBlock(PlaybackContext& context, const void* source, LONG length) {
  ApplyVolume(context.playbackBuffer);
  if (StopRequested()) {
    return false;
  }
  const auto* bytes = static_cast<const BYTE*>(source);
  LONG written = 0;
  while (written < length) {
    const LONG part =
        length - written < context.bufferBytes ? length - written : context.bufferBytes;
    if (!WritePart(context, bytes + written, part)) {
      return false;
    }
    written += part;
  }
  return true;
}

void ReleasePlaybackBuffer(PlaybackContext& context) {
  if (context.playbackBuffer != nullptr) {
    context.playbackBuffer->Stop();
    context.playbackBuffer->Release();
    context.playbackBuffer = nullptr;
  }
}
