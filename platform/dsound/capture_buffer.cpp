#include "platform/dsound/capture_buffer.h"

#include <new>

#include "platform/dsound/buffer_core.h"
#include "platform/dsound/sound_format.h"

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
class CaptureBuffer final : public IDirectSoundCaptureBuffer {
 public:
  explicit CaptureBuffer(const DeviceChoice& device) : core_(device), notify_(*this, core_) {}

  HRESULT Allocate(const WAVEFORMATEX& format, DWORD bytes) {
    return core_.Allocate(format, bytes);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IDirectSoundNotify)) {
      return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<IDirectSoundNotify*>(&notify_);
    return DS_OK;
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return core_.AddRef(); }

  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = core_.ReleaseReference();
    if (left == 0) {
      delete this;
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCBCAPS caps) override {
    if (caps == nullptr || caps->dwSize != sizeof(DSCBCAPS)) {
      return DSERR_INVALIDPARAM;
    }
    caps->dwFlags = 0;
    caps->dwBufferBytes = core_.ring().size();
    caps->dwReserved = 0;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD capturePosition,
                                               LPDWORD readPosition) override {
    const DWORD position = core_.ring().Cursor();
    if (capturePosition != nullptr) {
      *capturePosition = position;
    }
    if (readPosition != nullptr) {
      *readPosition = position;
    }
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated,
                                      LPDWORD sizeWritten) override {
    return core_.GetFormat(format, sizeAllocated, sizeWritten);
  }

  HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD status) override {
    if (status == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    const bool capturing = core_.running() && !core_.lost();
    *status = capturing ? DSCBSTATUS_CAPTURING | DSCBSTATUS_LOOPING : 0;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUNDCAPTURE, LPCDSCBUFFERDESC) override {
    return DSERR_ALREADYINITIALIZED;
  }

  HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1,
                                 LPVOID* region2, LPDWORD bytes2, DWORD flags) override {
    if ((flags & DSCBLOCK_ENTIREBUFFER) != 0) {
      bytes = core_.ring().size();
    }
    return core_.ring().Lock(offset, bytes, region1, bytes1, region2, bytes2);
  }

  // Only looping capture: the program reads the ring as it fills.
  HRESULT STDMETHODCALLTYPE Start(DWORD flags) override {
    if ((flags & DSCBSTART_LOOPING) == 0) {
      return DSERR_UNSUPPORTED;
    }
    const HRESULT result = core_.StartStream(false);
    return result == DSERR_BUFFERLOST ? DSERR_NODRIVER : result;
  }

  HRESULT STDMETHODCALLTYPE Stop() override {
    core_.StopStream();
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Unlock(LPVOID region1, DWORD bytes1, LPVOID region2,
                                   DWORD bytes2) override {
    return core_.ring().Unlock(region1, bytes1, region2, bytes2, false);
  }

 private:
  BufferCore core_;
  NotifyFacet notify_;
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
  const HRESULT accepted = CheckBufferFormat(description->lpwfxFormat, description->dwBufferBytes);
  if (accepted != DS_OK) {
    return accepted;
  }
  auto* made = new (std::nothrow) CaptureBuffer(device);
  if (made == nullptr) {
    return DSERR_OUTOFMEMORY;
  }
  const HRESULT allocated = made->Allocate(*description->lpwfxFormat, description->dwBufferBytes);
  if (allocated != DS_OK) {
    made->Release();
    return allocated;
  }
  *buffer = made;
  return DS_OK;
}

}  // namespace twplat::sound
