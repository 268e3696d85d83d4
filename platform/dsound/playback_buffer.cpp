#include "platform/dsound/playback_buffer.h"

#include "platform/dsound/buffer_object.h"
#include "platform/dsound/pcm_gain.h"

namespace twplat::sound {
namespace {

// A getter's answer: DSERR_INVALIDPARAM for nowhere to put it.
template <typename Value>
HRESULT Answer(Value* out, Value value) {
  if (out == nullptr) {
    return DSERR_INVALIDPARAM;
  }
  *out = value;
  return DS_OK;
}

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
class PlaybackBuffer final : public BufferObject<IDirectSoundBuffer> {
 public:
  PlaybackBuffer(const DeviceChoice& device, DWORD flags)
      : BufferObject(device, (flags & DSBCAPS_CTRLPOSITIONNOTIFY) != 0, true), flags_(flags) {}

  HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS caps) override {
    if (!CapsRecordKnown(caps)) {
      return DSERR_INVALIDPARAM;
    }
    caps->dwFlags = flags_ | DSBCAPS_LOCSOFTWARE;
    caps->dwBufferBytes = core().ring().size();
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) override {
    SoundRing& ring = core().ring();
    const DWORD play = ring.Cursor();
    const bool moving = core().running() && !core().lost();
    const DWORD lead = ring.format().nBlockAlign < ring.size() ? ring.format().nBlockAlign : 1;
    if (playCursor != nullptr) {
      *playCursor = play;
    }
    if (writeCursor != nullptr) {
      *writeCursor = moving ? (play + lead) % ring.size() : play;
    }
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE GetVolume(LPLONG volume) override { return Answer(volume, volume_); }
  HRESULT STDMETHODCALLTYPE GetPan(LPLONG pan) override { return Answer(pan, LONG{0}); }
  // The buffer's own frequency control, on a buffer made with
  // DSBCAPS_CTRLFREQUENCY: the device stream plays the ring at this rate
  // (resampled to the format's, so the device's rate stays), which a
  // playback controller uses to play a little faster or slower.
  // DSBFREQUENCY_ORIGINAL goes back to the format's rate.
  HRESULT Allocate(const WAVEFORMATEX& format, DWORD bytes) {
    const HRESULT result = BufferObject::Allocate(format, bytes);
    if (result == DS_OK && (flags_ & DSBCAPS_CTRLFREQUENCY) != 0) {
      core().ring().AllowFrequencyControl();
    }
    return result;
  }

  HRESULT STDMETHODCALLTYPE GetFrequency(LPDWORD frequency) override {
    if ((flags_ & DSBCAPS_CTRLFREQUENCY) == 0) {
      return DSERR_CONTROLUNAVAIL;
    }
    return Answer(frequency, core().ring().Frequency());
  }

  HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD status) override {
    if (status == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    const bool lost = core().lost();
    *status = lost ? DSBSTATUS_BUFFERLOST : 0;
    if (core().running() && !lost) {
      *status |= DSBSTATUS_PLAYING | DSBSTATUS_LOOPING;
    }
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override {
    return DSERR_ALREADYINITIALIZED;
  }

  HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1,
                                 LPVOID* region2, LPDWORD bytes2, DWORD flags) override {
    if (core().lost()) {
      return DSERR_BUFFERLOST;
    }
    if ((flags & DSBLOCK_FROMWRITECURSOR) != 0) {
      GetCurrentPosition(nullptr, &offset);
    }
    return LockRing(offset, bytes, (flags & DSBLOCK_ENTIREBUFFER) != 0, region1, bytes1, region2,
                    bytes2);
  }

  // Only looping play: the program streams through the ring. Play with the
  // sound server out of reach (restarting, most likely, since the buffer was
  // made) plays silence at the device's pace until the server is back.
  HRESULT STDMETHODCALLTYPE Play(DWORD, DWORD, DWORD flags) override {
    if ((flags & DSBPLAY_LOOPING) == 0) {
      return DSERR_UNSUPPORTED;
    }
    return core().StartStream(true);
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
    core().ring().SetGain(GainFromVolume(volume));
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE SetPan(LONG) override { return DSERR_CONTROLUNAVAIL; }
  HRESULT STDMETHODCALLTYPE SetFrequency(DWORD frequency) override {
    if ((flags_ & DSBCAPS_CTRLFREQUENCY) == 0) {
      return DSERR_CONTROLUNAVAIL;
    }
    if (frequency == DSBFREQUENCY_ORIGINAL) {
      frequency = core().ring().format().nSamplesPerSec;
    }
    if (frequency < DSBFREQUENCY_MIN || frequency > DSBFREQUENCY_MAX) {
      return DSERR_INVALIDPARAM;
    }
    core().ring().SetFrequency(frequency);
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Restore() override { return core().Restore(); }

 private:
  const DWORD flags_;
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
  return MakeBuffer<PlaybackBuffer>(description->lpwfxFormat, description->dwBufferBytes, buffer,
                                    device, description->dwFlags);
}

}  // namespace twplat::sound
