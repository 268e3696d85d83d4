// The body of a Client run: capture, connect, announce the format, stream.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include "audio/capture_context.h"
#include "core/byte_buffer.h"
#include "core/stream_header.h"

DWORD RunSender(CaptureContext& context, LPCGUID deviceId);

// Builds the header from the capture buffer's granted format. False, after
// the "GetFormat" error box, when the format cannot be read.
bool HeaderForCaptureBuffer(IDirectSoundCaptureBuffer* buffer, StreamHeader& header);

// The block loop of a running Client, once the header has gone and capture
// runs: reads each block out of the capture ring and sends it whole, until a
// stop request, a failed send or a capture device gone for good (reported
// once: a lost buffer at once, other read failures after about a second of
// retries, each after a wait of at most 10 ms on the ring's event).
void SendCapturedBlocks(CaptureContext& context, const StreamHeader& header, ByteBuffer& block);
