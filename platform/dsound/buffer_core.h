// What playback and capture buffers share: the ring, the device stream that
// runs while the buffer plays or captures, the lost state, notifications and
// the format. Used from the thread that owns the buffer.
#pragma once

#include <dsound.h>
#include <windows.h>

#include <memory>

#include "platform/dsound/device_stream.h"
#include "platform/dsound/ref_count.h"
#include "platform/dsound/sound_ring.h"

namespace twplat::sound {

class BufferCore {
 public:
  explicit BufferCore(const DeviceChoice& device) : device_(device) {}
  ~BufferCore() { stream_.reset(); }  // the stream goes before the ring it reads

  HRESULT Allocate(const WAVEFORMATEX& format, DWORD bytes);
  SoundRing& ring() { return ring_; }

  // Playing or capturing, as the program asked (even while lost).
  bool running() const { return running_; }
  // True from the moment the stream failed until a successful Restore.
  bool lost();

  // resumeOnRestore: when the device is out of reach, the buffer starts
  // anyway and its device joins when it is back (a sound server that is
  // restarting); where that cannot be, the buffer becomes lost and a
  // successful Restore starts it.
  HRESULT StartStream(bool resumeOnRestore);
  void StopStream();
  // Makes a new stream for a lost buffer, resuming where the old one stopped
  // if it was running.
  HRESULT Restore();

  HRESULT SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions);
  HRESULT GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten) const;

  // One COM object, one count, whichever interface is used.
  ULONG AddRef() { return references_.Add(); }
  ULONG ReleaseReference() { return references_.Drop(); }

 private:
  const DeviceChoice device_;
  SoundRing ring_;
  std::unique_ptr<DeviceStream> stream_;
  bool running_ = false;
  bool lost_ = false;
  RefCount references_;
};

// IDirectSoundNotify of a buffer: shares the buffer's reference count.
class NotifyFacet final : public IDirectSoundNotify {
 public:
  NotifyFacet(IUnknown& owner, BufferCore& core) : owner_(owner), core_(core) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return owner_.QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }
  HRESULT STDMETHODCALLTYPE SetNotificationPositions(DWORD count,
                                                     LPCDSBPOSITIONNOTIFY positions) override {
    return core_.SetNotificationPositions(count, positions);
  }

 private:
  IUnknown& owner_;
  BufferCore& core_;
};

}  // namespace twplat::sound
