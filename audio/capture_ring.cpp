#include "audio/capture_ring.h"

#include <commctrl.h>

#include "audio/ring_span.h"
#include "core/app_state.h"
#include "core/error_reporter.h"

namespace {

constexpr DWORD kCaptureWaitMs = 10;
// A device delivers at least every few tens of milliseconds; after this many
// waits without a byte the reader asks whether the buffer still captures.
constexpr int kStalledWaits = 50;

WAVEFORMATEX CaptureFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = 44100;
  format.nAvgBytesPerSec = 176400;
  format.nBlockAlign = 4;
  format.wBitsPerSample = 16;
  format.cbSize = 0;
  return format;
}

// DS_OK while the buffer captures; otherwise why not.
HRESULT CaptureState(IDirectSoundCaptureBuffer* buffer) {
  DWORD status = 0;
  const HRESULT result = buffer->GetStatus(&status);
  if (FAILED(result)) {
    return result;
  }
  return (status & DSCBSTATUS_CAPTURING) != 0 ? DS_OK : DSERR_BUFFERLOST;
}

// Waits in 10 ms steps until blockLength bytes lie between readOffset and the
// read position. False on a stop request, a failed position query or a
// buffer that stopped capturing.
bool WaitForBlock(CaptureContext& context, LONG blockLength) {
  DWORD lastPosition = 0;
  int stalledWaits = 0;
  for (;;) {
    DWORD capturePosition = 0;
    DWORD readPosition = 0;
    const HRESULT queried =
        context.captureBuffer->GetCurrentPosition(&capturePosition, &readPosition);
    if (FAILED(queried)) {
      context.readFailure = queried;
      return false;
    }
    stalledWaits = readPosition == lastPosition ? stalledWaits + 1 : 0;
    lastPosition = readPosition;
    if (stalledWaits >= kStalledWaits) {
      context.readFailure = CaptureState(context.captureBuffer);
      if (FAILED(context.readFailure)) {
        return false;
      }
      stalledWaits = 0;
    }
    LONG distance = static_cast<LONG>(readPosition) - context.readOffset;
    if (distance < 0) {
      distance += context.bufferBytes;
    }
    if (distance >= blockLength) {
      return true;
    }
    WaitForSingleObject(context.notifyEvent, kCaptureWaitMs);
    if (StopRequested()) {
      return false;
    }
  }
}

}  // namespace

HRESULT SetUpCaptureBuffer(CaptureContext& context, IDirectSoundCapture* device,
                           IDirectSoundCaptureBuffer** bufferOut) {
  if (device == nullptr || bufferOut == nullptr) {
    return E_INVALIDARG;
  }
  context.bufferBytes = kCaptureRingBytes;
  context.notifyStep = kCaptureNotifyStep;
  WAVEFORMATEX format = CaptureFormat();
  DSCBUFFERDESC description{};
  description.dwSize = sizeof(DSCBUFFERDESC);
  description.dwFlags = 0;
  description.dwBufferBytes = static_cast<DWORD>(context.bufferBytes);
  description.lpwfxFormat = &format;
  description.dwFXCount = 0;
  description.lpDSCFXDesc = nullptr;
  HRESULT result = device->CreateCaptureBuffer(&description, bufferOut, nullptr);
  if (FAILED(result)) {
    ReportError("CreateCaptureBuffer real", result);
    return result;
  }
  // All eight positions lie in the ring's first notifyStep bytes.
  result = SetEightNotifyPositions(*bufferOut, context.notifyEvent, context.notifyStep,
                                   {"Notify QueryInterface", "SetNotificationPositions"});
  if (FAILED(result)) {
    return result;
  }
  SendMessageA(appState.bufferMeter.load(), PBM_SETRANGE32, 0, context.bufferBytes);
  return result;
}

bool ReadCaptureBlock(CaptureContext& context, void* destination, const StreamHeader& header,
                      LONG& length) {
  length = 0;
  context.readFailure = DS_OK;
  if (StopRequested()) {
    return false;
  }
  const auto blockLength = static_cast<LONG>(header.blockLength);
  if (!WaitForBlock(context, blockLength)) {
    return false;
  }
  PostMessageA(appState.bufferMeter.load(), PBM_SETPOS, static_cast<WPARAM>(context.readOffset), 0);
  RingSpan span;
  const HRESULT locked = LockSpan(context.captureBuffer, context.readOffset, blockLength, span);
  if (FAILED(locked)) {
    context.readFailure = locked;
    return false;
  }
  span.CopyTo(static_cast<BYTE*>(destination));
  length = span.bytes();
  context.readOffset = (context.readOffset + length) % context.bufferBytes;
  UnlockSpan(context.captureBuffer, span);
  return true;
}
