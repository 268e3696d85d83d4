// The Server's playback ring: per connection, a looping playback buffer of a
// quarter second in the announced format, filled ahead of the play cursor.
//
// Thread contract: worker thread only. WritePlaybackBlock reads
// appState.volume once per call and appState.stopRequested after the volume
// step and after every wait of at most 500 ms.
#pragma once

#include <winsock2.h>

#include <dsound.h>
#include <windows.h>

#include "audio/playback_context.h"
#include "core/stream_header.h"

// DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPOSITIONNOTIFY |
// DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2 (0x181A0): the
// frequency control carries the playback controller's rate.
inline constexpr DWORD kPlaybackBufferFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLVOLUME |
                                              DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GLOBALFOCUS |
                                              DSBCAPS_GETCURRENTPOSITION2;

// The frame of the header's format as its playback buffer takes it (a
// WAVEFORMATEX keeps the low 16 bits of blockAlign), and 1 for none: the
// other 16 bits of a peer's header cannot make the writer's sums overflow.
inline LONG PlaybackFrameBytes(const StreamHeader& header) {
  const WORD frame = LOWORD(header.blockAlign);
  return frame > 0 ? frame : 1;
}

// Makes the stopped playback buffer in *bufferOut from appState.currentHeader,
// with its notification positions, resets appliedVolume and the write offset,
// and sets the buffer meter's range. Returns the status of the last step; a
// failed step has been reported. E_INVALIDARG, unreported and with nothing
// changed, for a null device or out location.
HRESULT SetUpPlaybackBuffer(PlaybackContext& context, IDirectSound* device,
                            IDirectSoundBuffer** bufferOut);

// Applies a changed volume, then writes the whole frames of source (with the
// frame the last call cut off first) into the ring at writeOffset, as much as
// there is room for behind the play cursor on each pass; a partial frame at
// the end waits for the next call. Before the buffer plays, nothing written
// is overwritten: a ring that cannot take more starts playing. False on a
// stop request or a reported failure; the whole frames not yet written are
// then dropped.
bool WritePlaybackBlock(PlaybackContext& context, const void* source, LONG length);

// Between chunks, once the buffer plays: overwrites what the play cursor has
// played with silence, so that a cursor overtaking the writer plays silence
// rather than the ring's older sound, and shows the queued bytes on the
// meter. idle: nothing came in the last receive wait; once the next chunk is
// overdue, queued sound that may run out before the next look fades out.
// The next chunk puts the faded end back as it was while the device is still
// a step (10 ms) short of it, and otherwise fades in.
// Failures are left to the next write to report.
void SilencePlayedRegion(PlaybackContext& context, bool idle);

// Without waiting: the room for writing now, shown on the meter, and in
// *queued the bytes ahead of the play cursor (before Play, those written).
// -1 after a failed query, which has been reported.
LONG LookAtPlaybackRing(PlaybackContext& context, LONG* queued);

// Starts the current buffer playing, once per buffer; a failure is reported.
void StartPlaybackRing(PlaybackContext& context);

// After the last chunk of an orderly close: starts a buffer that never
// started, then keeps the ring topped up with silence until the play cursor
// has moved past the last sound and a tenth of a second more (the device's
// own queue), so the end is heard. False on a stop request (within 10 ms), a
// failure or when the cursor does not get there within a second.
bool DrainPlaybackRing(PlaybackContext& context);

// Stops and releases the current buffer, if any.
void ReleasePlaybackBuffer(PlaybackContext& context);
