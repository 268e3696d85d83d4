#include "platform/dsound/playback_buffer.h"

#include <new>

#include "platform/dsound/buffer_core.h"
#include "platform/dsound/pcm_gain.h"
#include "platform/dsound/sound_format.h"

namespace twplat::sound {
namespace {

// Cursors. The play cursor is the next byte the device stream will take from
// the ring: everything before it has been handed to the device, so a writer
// may overwrite all of the ring except what lies between its own write offset
// and the play cursor. While the buffer plays, the write cursor is one frame
// ahead of the play cursor, so the two are never equal; while it is stopped
// (or lost) the write cursor equals the play cursor, and a writer treats the
// whole ring as free. Stop keeps the play cursor where it was and Play goes
// on from there. A lost buffer keeps its cursors still until Restore; a
// sound server that restarts does not make it lost (see
// reconnecting_stream.h). The
// play cursor moves at the device's pace even when the stream falls behind:
// an underrun skips sound (a click) rather than delaying all that follows.
class PlaybackBuffer final : public IDirectSoundBuffer {
 public:
  PlaybackBuffer(const DeviceChoice& device, DWORD flags)
      : core_(device), flags_(flags), notify_(*this, core_) {}

  HRESULT Allocate(const WAVEFORMATEX& format, DWORD bytes) {
    return core_.Allocate(format, bytes);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IDirectSoundNotify) || (flags_ & DSBCAPS_CTRLPOSITIONNOTIFY) == 0) {
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

  HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS caps) override {
    if (caps == nullptr || caps->dwSize != sizeof(DSBCAPS)) {
      return DSERR_INVALIDPARAM;
    }
    caps->dwFlags = flags_ | DSBCAPS_LOCSOFTWARE;
    caps->dwBufferBytes = core_.ring().size();
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) override {
    SoundRing& ring = core_.ring();
    const DWORD play = ring.Cursor();
    const bool moving = core_.running() && !core_.lost();
    const DWORD lead = ring.format().nBlockAlign < ring.size() ? ring.format().nBlockAlign : 1;
    if (playCursor != nullptr) {
      *playCursor = play;
    }
    if (writeCursor != nullptr) {
      *writeCursor = moving ? (play + lead) % ring.size() : play;
    }
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated,
                                      LPDWORD sizeWritten) override {
    return core_.GetFormat(format, sizeAllocated, sizeWritten);
  }

  HRESULT STDMETHODCALLTYPE GetVolume(LPLONG volume) override {
    if (volume == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    *volume = volume_;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetPan(LPLONG pan) override {
    if (pan == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    *pan = 0;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetFrequency(LPDWORD frequency) override {
    if (frequency == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    *frequency = core_.ring().format().nSamplesPerSec;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD status) override {
    if (status == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    const bool lost = core_.lost();
    *status = lost ? DSBSTATUS_BUFFERLOST : 0;
    if (core_.running() && !lost) {
      *status |= DSBSTATUS_PLAYING | DSBSTATUS_LOOPING;
    }
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override {
    return DSERR_ALREADYINITIALIZED;
  }

  HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1,
                                 LPVOID* region2, LPDWORD bytes2, DWORD flags) override {
    if (core_.lost()) {
      return DSERR_BUFFERLOST;
    }
    if ((flags & DSBLOCK_FROMWRITECURSOR) != 0) {
      GetCurrentPosition(nullptr, &offset);
    }
    if ((flags & DSBLOCK_ENTIREBUFFER) != 0) {
      bytes = core_.ring().size();
    }
    return core_.ring().Lock(offset, bytes, region1, bytes1, region2, bytes2);
  }

  // Only looping play: the program streams through the ring. Play with the
  // sound server out of reach (restarting, most likely, since the buffer was
  // made) plays silence at the device's pace until the server is back.
  HRESULT STDMETHODCALLTYPE Play(DWORD, DWORD, DWORD flags) override {
    if ((flags & DSBPLAY_LOOPING) == 0) {
      return DSERR_UNSUPPORTED;
    }
    return core_.StartStream(true);
  }

  HRESULT STDMETHODCALLTYPE SetCurrentPosition(DWORD) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE SetFormat(LPCWAVEFORMATEX) override { return DSERR_INVALIDCALL; }

  HRESULT STDMETHODCALLTYPE SetVolume(LONG volume) override {
    if ((flags_ & DSBCAPS_CTRLVOLUME) == 0) {
      return DSERR_CONTROLUNAVAIL;
    }
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) {
      return DSERR_INVALIDPARAM;
    }
    volume_ = volume;
    core_.ring().SetGain(GainFromVolume(volume));
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE SetPan(LONG) override { return DSERR_CONTROLUNAVAIL; }
  HRESULT STDMETHODCALLTYPE SetFrequency(DWORD) override { return DSERR_CONTROLUNAVAIL; }

  HRESULT STDMETHODCALLTYPE Stop() override {
    core_.StopStream();
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Unlock(LPVOID region1, DWORD bytes1, LPVOID region2,
                                   DWORD bytes2) override {
    return core_.ring().Unlock(region1, bytes1, region2, bytes2, true);
  }

  HRESULT STDMETHODCALLTYPE Restore() override { return core_.Restore(); }

 private:
  BufferCore core_;
  const DWORD flags_;
  NotifyFacet notify_;
  LONG volume_ = DSBVOLUME_MAX;
};

bool DescriptionSizeKnown(DWORD size) {
  return size == sizeof(DSBUFFERDESC) || size == sizeof(DSBUFFERDESC1);
}

}  // namespace

HRESULT CreatePlaybackBuffer(const DeviceChoice& device, LPCDSBUFFERDESC description,
                             LPDIRECTSOUNDBUFFER* buffer) {
  if (buffer == nullptr) {
    return DSERR_INVALIDPARAM;
  }
  *buffer = nullptr;
  if (description == nullptr || !DescriptionSizeKnown(description->dwSize)) {
    return DSERR_INVALIDPARAM;
  }
  if ((description->dwFlags & (DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D | DSBCAPS_CTRLFX)) != 0) {
    return DSERR_UNSUPPORTED;
  }
  const HRESULT accepted = CheckBufferFormat(description->lpwfxFormat, description->dwBufferBytes);
  if (accepted != DS_OK) {
    return accepted;
  }
  auto* made = new (std::nothrow) PlaybackBuffer(device, description->dwFlags);
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
