// The COM object around a BufferCore, for both buffer kinds: the reference
// count it shares with its notify interface, QueryInterface, the format, the
// ring's Lock and Unlock and Stop. The kinds add their cursors, status and
// controls.
#pragma once

#include <dsound.h>
#include <windows.h>

#include <new>

#include "platform/dsound/buffer_core.h"
#include "platform/dsound/sound_format.h"

namespace twplat::sound {

template <typename Interface>
class BufferObject : public Interface {
 public:
  HRESULT Allocate(const WAVEFORMATEX& format, DWORD bytes) {
    return core_.Allocate(format, bytes);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IDirectSoundNotify) || !notifyOffered_) {
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

  HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated,
                                      LPDWORD sizeWritten) override {
    return core_.GetFormat(format, sizeAllocated, sizeWritten);
  }

  HRESULT STDMETHODCALLTYPE Stop() override {
    core_.StopStream();
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Unlock(LPVOID region1, DWORD bytes1, LPVOID region2,
                                   DWORD bytes2) override {
    return core_.ring().Unlock(region1, bytes1, region2, bytes2, programWrites_);
  }

 protected:
  // notifyOffered: whether QueryInterface hands out IDirectSoundNotify.
  // programWrites: whether what the program locked goes back into the ring
  // at Unlock (playback) or only came out of it (capture).
  BufferObject(const DeviceChoice& device, bool notifyOffered, bool programWrites)
      : core_(device),
        notify_(*this, core_),
        notifyOffered_(notifyOffered),
        programWrites_(programWrites) {}
  virtual ~BufferObject() = default;

  BufferCore& core() { return core_; }

  HRESULT LockRing(DWORD offset, DWORD bytes, bool entireBuffer, LPVOID* region1, LPDWORD bytes1,
                   LPVOID* region2, LPDWORD bytes2) {
    if (entireBuffer) {
      bytes = core_.ring().size();
    }
    return core_.ring().Lock(offset, bytes, region1, bytes1, region2, bytes2);
  }

 private:
  BufferCore core_;
  NotifyFacet notify_;
  const bool notifyOffered_;
  const bool programWrites_;
};

// The common end of creating a buffer whose description has been checked:
// the format and size, then the buffer made with arguments and allocated.
template <typename Buffer, typename Interface, typename... Arguments>
HRESULT MakeBuffer(const WAVEFORMATEX* format, DWORD bytes, Interface** buffer,
                   const Arguments&... arguments) {
  const HRESULT accepted = CheckBufferFormat(format, bytes);
  if (accepted != DS_OK) {
    return accepted;
  }
  auto* made = new (std::nothrow) Buffer(arguments...);
  if (made == nullptr) {
    return DSERR_OUTOFMEMORY;
  }
  const HRESULT allocated = made->Allocate(*format, bytes);
  if (allocated != DS_OK) {
    made->Release();
    return allocated;
  }
  *buffer = made;
  return DS_OK;
}

}  // namespace twplat::sound
