// The Client's capture ring: a looping 44096-byte capture buffer of 44100 Hz
// 16-bit stereo, read block by block behind the device's read position.
//
// Thread contract: worker thread only. ReadCaptureBlock reads
// appState.stopRequested at entry and after every wait of at most 10 ms.
#pragma once

#include <winsock2.h>

#include <dsound.h>
#include <windows.h>

#include "audio/capture_context.h"
#include "core/stream_header.h"

// 11024 frames: 8 notification steps of 5512 bytes, just under a quarter second.
inline constexpr LONG kCaptureRingBytes = 44096;
inline constexpr LONG kCaptureNotifyStep = 5512;

// Makes the stopped capture buffer in *bufferOut with its notification
// positions and sets the buffer meter's range. Returns the status of the last
// step; a failed step has been reported. E_INVALIDARG, unreported and with
// nothing changed, for a null device or out location.
HRESULT SetUpCaptureBuffer(CaptureContext& context, IDirectSoundCapture* device,
                           IDirectSoundCaptureBuffer** bufferOut);

// Copies the next header.blockLength bytes of the running ring into
// destination once they are all captured. False, with length 0, on a stop
// request or when the position or the lock fails, or when the position has
// stood still for half a second and the buffer no longer captures
// (context.readFailure then holds the reason, DSERR_BUFFERLOST for a buffer
// that stopped; nothing is reported).
bool ReadCaptureBlock(CaptureContext& context, void* destination, const StreamHeader& header,
                      LONG& length);
