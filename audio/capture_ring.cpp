#include "audio/capture_ring.h"

#include <commctrl.h>

#include <cstring>

#include "core/app_state.h"
#include "core/error_reporter.h"

namespace {

constexpr DWORD kCaptureWaitMs = 10;
// A device delivers at least every few tens of milliseconds; after this many
// waits without a byte the reader asks whether the buffer still captures.
constexpr int kStalledWaits = 50;
constexpr int kNotifyCount = 8;

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

// All eight positions lie in the ring's first notifyStep bytes.
HRESULT SetCapturePositions(CaptureContext& context, IDirectSoundNotify* notify) {
  DSBPOSITIONNOTIFY positions[kNotifyCount];
  for (LONG k = 0; k < kNotifyCount; ++k) {
    positions[k].dwOffset = static_cast<DWORD>(k * context.notifyStep / kNotifyCount);
    positions[k].hEventNotify = context.notifyEvent;
  }
  return notify->SetNotificationPositions(kNotifyCount, positions);
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
  void* notifyObject = nullptr;
  result = (*bufferOut)->QueryInterface(IID_IDirectSoundNotify, &notifyObject);
  if (FAILED(result)) {
    ReportError("Notify QueryInterface", result);
    return result;
  }
  auto* notify = static_cast<IDirectSoundNotify*>(notifyObject);
  result = SetCapturePositions(context, notify);
  notify->Release();
  if (FAILED(result)) {
    ReportError("SetNotificationPositions", result);
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
  LPVOID region1 = nullptr;
  LPVOID region2 = nullptr;
  DWORD bytes1 = 0;
  DWORD bytes2 = 0;
  const HRESULT locked = context.captureBuffer->Lock(static_cast<DWORD>(context.readOffset),
                                                     static_cast<DWORD>(blockLength), &region1,
                                                     &bytes1, &region2, &bytes2, 0);
  if (FAILED(locked)) {
    context.readFailure = locked;
    return false;
  }
  auto* out = static_cast<BYTE*>(destination);
  std::memcpy(out, region1, bytes1);
  length = static_cast<LONG>(bytes1);
  context.readOffset = (context.readOffset + static_cast<LONG>(bytes1)) % context.bufferBytes;
  if (region2 != nullptr) {
    std::memcpy(out + bytes1, region2, bytes2);
    context.readOffset = (context.readOffset + static_cast<LONG>(bytes2)) % context.bufferBytes;
    length += static_cast<LONG>(bytes2);
  }
  context.captureBuffer->Unlock(region1, bytes1, region2, bytes2);
  return true;
}
