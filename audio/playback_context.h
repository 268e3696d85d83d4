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
};
