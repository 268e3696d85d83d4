#include "audio/playback_ring.h"

#include <commctrl.h>

#include <chrono>
#include <cstdint>
#include <cstring>

#include "audio/pcm_ramp.h"
#include "audio/ring_span.h"
#include "core/app_state.h"
#include "core/error_reporter.h"

namespace {

constexpr DWORD kRoomWaitMs = 500;
constexpr DWORD kDrainStepMs = 10;
// The quarter-second ring, the tail and slack.
constexpr std::chrono::milliseconds kLongestDrain{1000};
constexpr DWORD kFadesPerSecond = 200;  // a fade lasts 5 ms
// Idle looks come a receive wait (50 ms) apart.
constexpr DWORD kLooksPerSecond = 20;
// Sound queued below this much when the next chunk is overdue may run out
// before the next idle look (a receive wait, and 15 ms for a late one), so
// its end is faded out now rather than stopping with a click. The fade is
// undone if the chunk comes while the device is still a step short of it.
constexpr DWORD kRunOutMs = 1000 / kLooksPerSecond + 15;
constexpr DWORD kDeviceStepsPerSecond = 100;

// The frame the writer keeps whole: blockAlign, or a byte for a frame larger
// than it can carry.
LONG WholeFrame(const PlaybackContext& context) {
  return context.frameBytes <= kMaxCarriedFrame ? context.frameBytes : 1;
}

BYTE SilenceByte() { return appState.currentHeader.Get().bitsPerSample == 8 ? 0x80 : 0x00; }

LONG RingDistance(const PlaybackContext& context, LONG from, LONG to) {
  const LONG distance = to - from;
  return distance < 0 ? distance + context.bufferBytes : distance;
}

// Where the last `bytes` written before writeOffset begin.
LONG OffsetBeforeWriter(const PlaybackContext& context, LONG bytes) {
  return (context.writeOffset - bytes + context.bufferBytes) % context.bufferBytes;
}

// What the device has taken beyond its play cursor and can no longer change.
LONG DeviceLead(const PlaybackContext& context, DWORD playCursor, DWORD writeCursor) {
  return RingDistance(context, static_cast<LONG>(playCursor), static_cast<LONG>(writeCursor));
}

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
// plays the silence left behind the cursor, and the writer goes on from the
// write cursor rather than behind the play cursor, where what it writes would
// wait almost a whole ring (a delay that would last). Only whole frames were
// written, so the stream goes on there on a frame boundary, faded in.
LONG QueuedBytes(PlaybackContext& context, DWORD playCursor, DWORD writeCursor) {
  LONG used = RingDistance(context, static_cast<LONG>(playCursor), context.writeOffset);
  if (used > context.queuedBytes) {
    const LONG skipped = RingDistance(context, context.writeOffset, static_cast<LONG>(writeCursor));
    context.silentBytes = context.silentBytes > skipped ? context.silentBytes - skipped : 0;
    context.fadeInStep = 0;
    context.unfadedBytes = 0;  // the faded end, if any, has been played
    context.writeOffset = static_cast<LONG>(writeCursor);
    used = static_cast<LONG>(writeCursor) - static_cast<LONG>(playCursor);
    used = used < 0 ? used + context.bufferBytes : used;
  }
  context.queuedBytes = used;
  return used;
}

// Whole frames the writer may add at writeOffset. One frame always stays
// free, so a full ring never looks empty (writeOffset back on the play cursor).
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
  return room > 0 ? room - room % WholeFrame(context) : 0;
}

// New sound is about to go in after a faded end: while the device is still
// short of the fade, the end goes back to what it was and the sound plays on
// as if nothing had been faded; otherwise the new sound fades in after what
// is heard of the fade.
void PutBackUnfadedEnd(PlaybackContext& context, DWORD playCursor, DWORD writeCursor) {
  if (!context.fadedOut || context.unfadedBytes == 0) {
    return;
  }
  const LONG bytes = context.unfadedBytes;
  context.unfadedBytes = 0;
  const LONG lead = DeviceLead(context, playCursor, writeCursor);
  const LONG start = OffsetBeforeWriter(context, bytes);
  RingSpan span;
  // The device moves on in steps (10 ms for the sound server's requests):
  // with less than one beyond the faded end, it may take part of that end
  // while it is being put back, and hear the fade break off.
  const LONG step =
      static_cast<LONG>(appState.currentHeader.Get().averageBytesPerSecond / kDeviceStepsPerSecond);
  if (context.queuedBytes - lead < bytes + step ||
      FAILED(LockSpan(context.playbackBuffer, start, bytes, span))) {
    context.fadeInStep = 0;
    return;
  }
  span.CopyFrom(context.unfadedEnd);
  if (FAILED(UnlockSpan(context.playbackBuffer, span))) {
    context.fadeInStep = 0;
  }
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
      PutBackUnfadedEnd(context, playCursor, writeCursor);
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
  if (context.fadeInStep >= 0) {
    const RampShape shape{context.frameBytes, context.sampleBytes, context.fadeFrames,
                          context.fadeInStep, true};
    context.fadeInStep += RampFrames(span, shape);
    context.fadeInStep = context.fadeInStep < context.fadeFrames ? context.fadeInStep : -1;
  }
  result = UnlockSpan(buffer, span);
  if (FAILED(result)) {
    ReportError("Playback Unlock", result);
    return false;
  }
  context.writeOffset = (context.writeOffset + length) % context.bufferBytes;
  context.silentBytes = context.silentBytes > length ? context.silentBytes - length : 0;
  context.fadedOut = false;
  if (!context.playing) {
    context.prefilledBytes += length;
  }
  if (context.queuedBytes < context.bufferBytes) {
    context.queuedBytes += length;
  }
  return true;
}

// Fills the room behind the last sound with silence, so that the cursor,
// moving on at the device's pace, plays silence and not older ring contents.
bool TopUpWithSilence(PlaybackContext& context, DWORD playCursor, DWORD writeCursor) {
  BYTE silence[4096];
  std::memset(silence, SilenceByte(), sizeof silence);
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

// Whole frames from source, as fast as the play cursor frees room.
bool WriteFrames(PlaybackContext& context, const BYTE* source, LONG length) {
  LONG written = 0;
  while (written < length) {
    const LONG room = WaitForRoom(context);
    const LONG part = length - written < room ? length - written : room;
    if (part == 0 || !WritePart(context, source + written, part)) {
      return false;
    }
    written += part;
  }
  return true;
}

// Completes the frame the last chunk cut off from the front of source.
// Returns the bytes of source used; *whole tells that the frame is complete.
LONG CompletePartialFrame(PlaybackContext& context, const BYTE* source, LONG length, bool* whole) {
  const LONG missing = WholeFrame(context) - context.partialBytes;
  const LONG taken = missing < length ? missing : length;
  if (taken > 0) {
    std::memcpy(context.partialFrame + context.partialBytes, source, static_cast<size_t>(taken));
  }
  context.partialBytes += taken;
  *whole = context.partialBytes == WholeFrame(context);
  return taken;
}

// Overwrites length bytes at offset with silence; false when the buffer
// cannot be locked (a lost buffer is restored by the next write).
bool FillSilence(PlaybackContext& context, LONG offset, LONG length) {
  RingSpan span;
  if (FAILED(LockSpan(context.playbackBuffer, offset, length, span))) {
    return false;
  }
  std::memset(span.region1, SilenceByte(), span.bytes1);
  if (span.region2 != nullptr) {
    std::memset(span.region2, SilenceByte(), span.bytes2);
  }
  return SUCCEEDED(UnlockSpan(context.playbackBuffer, span));
}

// The next chunk is overdue: more idle looks since the last one than a
// block of the header's length takes to play. A ring kept low on purpose (the
// platform's drift correction holds it just above a block's arrival) is not
// faded out while chunks come on time.
bool StreamIsLate(const PlaybackContext& context) {
  const StreamHeader header = appState.currentHeader.Get();
  if (header.averageBytesPerSecond == 0) {
    return true;
  }
  const auto looksPerBlock = static_cast<LONG>(static_cast<std::uint64_t>(header.blockLength) *
                                               kLooksPerSecond / header.averageBytesPerSecond);
  return context.idleLooks > looksPerBlock;
}

// Stores the last written frame again, unchanged, so that the last write
// ends where the queued sound ends: the sound layer may take the end of the
// last write for the end of what is queued (the Linux platform's drift
// correction holds that fill), and silence written behind the cursor must
// not read as a full ring.
void RepublishSoundEnd(PlaybackContext& context) {
  const LONG frame = context.frameBytes < context.bufferBytes ? context.frameBytes : 1;
  RingSpan span;
  const LONG start = OffsetBeforeWriter(context, frame);
  if (SUCCEEDED(LockSpan(context.playbackBuffer, start, frame, span))) {
    UnlockSpan(context.playbackBuffer, span);
  }
}

// Fades out the end of the queued sound that the device has not taken yet,
// so that running out is not a click, and keeps that end as it was.
void FadeOutQueuedEnd(PlaybackContext& context, DWORD playCursor, DWORD writeCursor, LONG queued) {
  const LONG lead = DeviceLead(context, playCursor, writeCursor);
  const LONG frame = context.frameBytes;
  LONG frames = queued > lead ? (queued - lead) / frame : 0;
  frames = frames < context.fadeFrames ? frames : context.fadeFrames;
  frames = frames < kMaxUnfadedEnd / frame ? frames : kMaxUnfadedEnd / frame;
  context.fadedOut = true;
  context.unfadedBytes = 0;
  RingSpan span;
  const LONG start = OffsetBeforeWriter(context, frames * frame);
  if (frames == 0 || FAILED(LockSpan(context.playbackBuffer, start, frames * frame, span))) {
    return;
  }
  span.CopyTo(context.unfadedEnd);
  RampFrames(span,
             {frame, context.sampleBytes, context.fadeFrames, context.fadeFrames - frames, false});
  if (SUCCEEDED(UnlockSpan(context.playbackBuffer, span))) {
    context.unfadedBytes = span.bytes();
  }
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
  context.frameBytes = PlaybackFrameBytes(header);
  context.sampleBytes = format.wBitsPerSample / 8;
  context.fadeFrames = static_cast<LONG>(header.samplesPerSecond / kFadesPerSecond);
  context.fadeFrames = context.fadeFrames > 0 ? context.fadeFrames : 1;
  context.partialBytes = 0;
  context.silentBytes = 0;
  context.fadeInStep = -1;
  context.fadedOut = false;
  context.unfadedBytes = 0;
  context.idleLooks = 0;
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
// of waiting for the whole ring to be free. TCP cuts the stream anywhere, so
// a chunk's last partial frame waits for the next chunk; when a write fails,
// the frame phase is kept all the same, and what is dropped is whole frames.
bool WritePlaybackBlock(PlaybackContext& context, const void* source, LONG length) {
  ApplyVolume(context.playbackBuffer);
  if (StopRequested()) {
    return false;
  }
  if (length < 0) {
    return false;
  }
  if (context.partialBytes < 0 || context.partialBytes >= WholeFrame(context)) {
    context.partialBytes = 0;  // never more than the frame it carries
  }
  const auto* bytes = static_cast<const BYTE*>(source);
  LONG used = 0;
  bool written = true;
  if (context.partialBytes > 0) {
    bool whole = false;
    used = CompletePartialFrame(context, bytes, length, &whole);
    if (!whole) {
      return true;
    }
    context.partialBytes = 0;
    written = WriteFrames(context, context.partialFrame, WholeFrame(context));
  }
  const LONG frames = (length - used) / WholeFrame(context);
  const LONG wholeBytes = frames * WholeFrame(context);
  written = written && WriteFrames(context, bytes + used, wholeBytes);
  context.partialBytes = length - used - wholeBytes;
  if (context.partialBytes > 0 &&
      context.partialBytes < WholeFrame(context)) {  // source may be null when length is 0
    std::memcpy(context.partialFrame, bytes + used + wholeBytes,
                static_cast<size_t>(context.partialBytes));
  }
  return written;
}

void SilencePlayedRegion(PlaybackContext& context, bool idle) {
  if (context.playbackBuffer == nullptr || !context.playing) {
    return;
  }
  DWORD play = 0;
  DWORD write = 0;
  if (FAILED(context.playbackBuffer->GetCurrentPosition(&play, &write)) || play == write) {
    return;  // stopped or lost: nothing plays
  }
  const LONG queued = QueuedBytes(context, play, write);
  PostMessageA(appState.bufferMeter.load(), PBM_SETPOS, static_cast<WPARAM>(queued), 0);
  const LONG played = context.bufferBytes - queued;
  if (context.silentBytes < played &&
      FillSilence(context, (context.writeOffset + context.silentBytes) % context.bufferBytes,
                  played - context.silentBytes)) {
    context.silentBytes = played;
    RepublishSoundEnd(context);
  }
  context.idleLooks = idle ? context.idleLooks + 1 : 0;
  if (idle && !context.fadedOut && StreamIsLate(context) &&
      queued < static_cast<LONG>(appState.currentHeader.Get().averageBytesPerSecond / 1000 *
                                 kRunOutMs)) {
    FadeOutQueuedEnd(context, play, write, queued);
  }
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
  const auto giveUpAt = std::chrono::steady_clock::now() + kLongestDrain;
  while (!StopRequested() && std::chrono::steady_clock::now() < giveUpAt) {
    if (!TopUpWithSilence(context, play, write)) {
      return false;
    }
    // Wakes as the cursor passes a notification position (an eighth of the
    // ring), or after a step at the latest.
    WaitForSingleObject(context.notifyEvent, kDrainStepMs);
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
