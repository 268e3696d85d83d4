// The Server run's record: playback device, the current connection's ring,
// the listening sockets, the connection being served and the writer's
// position. Made when the Server worker starts; its destruction releases the
// sockets, the buffer, the device and the event, in that order, as the
// Client run's record does.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include "net/listeners.h"

struct IDirectSound;
struct IDirectSoundBuffer;

// The largest frame the writer keeps whole across chunks (eight channels of
// 32 bits take 32 bytes); a larger one goes into the ring as it comes.
inline constexpr LONG kMaxCarriedFrame = 256;
// The most of a faded end the writer keeps as it was: 5 ms of 192000 Hz in
// eight channels of 32 bits. A longer fade keeps its last frames only.
inline constexpr LONG kMaxUnfadedEnd = 960 * 32;

struct PlaybackContext {
  PlaybackContext();
  ~PlaybackContext();
  PlaybackContext(const PlaybackContext&) = delete;
  PlaybackContext& operator=(const PlaybackContext&) = delete;

  IDirectSound* playbackDevice = nullptr;
  IDirectSoundBuffer* playbackBuffer = nullptr;
  Listeners listeners;
  SOCKET connectionSocket = INVALID_SOCKET;  // the one accept() gave; closed on every way out
  HANDLE notifyEvent = nullptr;  // auto-reset, signalled at the ring's notification positions
  LONG bufferBytes = 0;          // averageBytesPerSecond / 4 of the current header
  LONG writeOffset = 0;
  LONG frameBytes = 1;      // blockAlign of the current header; the writer's gap
  bool playing = false;     // Play was called for the current buffer
  LONG prefilledBytes = 0;  // written into the current buffer before Play
  // Bytes ahead of the play cursor at the writer's last look, counting what
  // it wrote since; more at the next look means the cursor overtook the
  // writer. The largest LONG while unknown.
  LONG queuedBytes = 0x7FFFFFFF;
  // The start of a frame that the last chunk cut off; it goes into the ring
  // once the next chunk completes it, so the ring only ever gets whole frames.
  BYTE partialFrame[kMaxCarriedFrame] = {};
  LONG partialBytes = 0;
  // Bytes from writeOffset on that hold silence: what the cursor played is
  // overwritten with silence, so an underrun is heard as silence.
  LONG silentBytes = 0;
  LONG sampleBytes = 2;   // bitsPerSample / 8 of the current header
  LONG fadeFrames = 1;    // frames of a fade in or out, a few milliseconds
  LONG fadeInStep = -1;   // where the next written frame is in a fade-in; -1: none
  bool fadedOut = false;  // the queued sound's end was faded out
  // That end as it was before the fade (unfadedBytes of it, up to
  // writeOffset): put back when the next sound comes while the device is
  // still a step short of the fade, so that a chunk that was only late plays
  // on seamlessly.
  BYTE unfadedEnd[kMaxUnfadedEnd] = {};
  LONG unfadedBytes = 0;
  LONG idleLooks = 0;  // receive waits without data since the last write
};
