#include "platform/dsound/capture_buffer.h"

#include "platform/dsound/buffer_object.h"

namespace twplat::sound {
namespace {

// Cursors. The capture position and the read position are the same offset:
// the end of the data the device has completely stored in the ring. A new
// buffer starts at 0; Stop keeps the position and Start goes on from there.
// The position moves at the device's pace even when the device delivers in
// bursts (see CapturePacer) and while a sound server restarts (silence; see
// reconnecting_stream.h).
// If the device stream fails the position stays where it is, and what was
// captured can still be locked and read, so a reader waiting for more keeps
// waiting in its own bounded steps.
class CaptureBuffer final : public BufferObject<IDirectSoundCaptureBuffer> {
 public:
  explicit CaptureBuffer(const DeviceChoice& device) : BufferObject(device, true, false) {}

  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCBCAPS caps) override {
    if (!CapsRecordKnown(caps)) {
      return DSERR_INVALIDPARAM;
    }
    caps->dwFlags = 0;
    caps->dwBufferBytes = core().ring().size();
    caps->dwReserved = 0;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD capturePosition,
                                               LPDWORD readPosition) override {
    const DWORD position = core().ring().Cursor();
    if (capturePosition != nullptr) {
      *capturePosition = position;
    }
    if (readPosition != nullptr) {
      *readPosition = position;
    }
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD status) override {
    if (status == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    const bool capturing = core().running() && !core().lost();
    *status = capturing ? DSCBSTATUS_CAPTURING | DSCBSTATUS_LOOPING : 0;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUNDCAPTURE, LPCDSCBUFFERDESC) override {
    return DSERR_ALREADYINITIALIZED;
  }

  HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1,
                                 LPVOID* region2, LPDWORD bytes2, DWORD flags) override {
    return LockRing(offset, bytes, (flags & DSCBLOCK_ENTIREBUFFER) != 0, region1, bytes1, region2,
                    bytes2);
  }

  // Only looping capture: the program reads the ring as it fills. Started
  // with the sound server out of reach (not running yet, or restarting), it
  // captures silence at the device's pace until the server is there.
  HRESULT STDMETHODCALLTYPE Start(DWORD flags) override {
    if ((flags & DSCBSTART_LOOPING) == 0) {
      return DSERR_UNSUPPORTED;
    }
    const HRESULT result = core().StartStream(true);
    return result == DSERR_BUFFERLOST ? DSERR_NODRIVER : result;
  }
};

bool DescriptionSizeKnown(DWORD size) {
  return size == sizeof(DSCBUFFERDESC) || size == sizeof(DSCBUFFERDESC1);
}

}  // namespace

HRESULT CreateCaptureBuffer(const DeviceChoice& device, LPCDSCBUFFERDESC description,
                            LPDIRECTSOUNDCAPTUREBUFFER* buffer) {
  if (buffer == nullptr) {
    return DSERR_INVALIDPARAM;
  }
  *buffer = nullptr;
  if (description == nullptr || !DescriptionSizeKnown(description->dwSize)) {
    return DSERR_INVALIDPARAM;
  }
  if (description->dwSize == sizeof(DSCBUFFERDESC) && description->dwFXCount != 0) {
    return DSERR_FXUNAVAILABLE;
  }
  return MakeBuffer<CaptureBuffer>(description->lpwfxFormat, description->dwBufferBytes, buffer,
                                   device);
}

}  // namespace twplat::sound
