// The device objects and the entry points: enumeration and creation.
#include <dsound.h>
#include <windows.h>

#include <new>

#include "platform/dsound/capture_buffer.h"
#include "platform/dsound/device_registry.h"
#include "platform/dsound/playback_buffer.h"
#include "platform/dsound/pulse/server_presence.h"
#include "platform/dsound/ref_count.h"
#include "platform/dsound/sound_format.h"

namespace twplat::sound {
namespace {

// What both device objects share: the device they open, and the IUnknown
// part, with no further interfaces, a reference count any thread may change,
// deleted at the last Release.
template <typename Interface>
class DeviceObject : public Interface {
 public:
  explicit DeviceObject(const DeviceChoice& device) : device_(device) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    if (object != nullptr) {
      *object = nullptr;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return references_.Add(); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = references_.Drop();
    if (left == 0) {
      delete this;
    }
    return left;
  }

 protected:
  virtual ~DeviceObject() = default;

  // A buffer on the device, made by create(device, description, buffer);
  // this system makes no aggregated objects.
  template <typename Create, typename Description, typename Buffer>
  HRESULT NewBuffer(Create create, Description description, Buffer** buffer, LPUNKNOWN outer) {
    if (outer != nullptr) {
      return DSERR_NOAGGREGATION;
    }
    return create(device_, description, buffer);
  }

 private:
  const DeviceChoice device_;
  RefCount references_;
};

// A playback device. Every buffer has a device stream of its own, so the
// cooperative level changes nothing and any valid level is accepted.
class PlaybackDevice final : public DeviceObject<IDirectSound> {
 public:
  using DeviceObject::DeviceObject;

  HRESULT STDMETHODCALLTYPE CreateSoundBuffer(LPCDSBUFFERDESC description,
                                              LPDIRECTSOUNDBUFFER* buffer,
                                              LPUNKNOWN outer) override {
    return NewBuffer(CreatePlaybackBuffer, description, buffer, outer);
  }

  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCAPS caps) override {
    if (!CapsRecordKnown(caps)) {
      return DSERR_INVALIDPARAM;
    }
    *caps = DSCAPS{};
    caps->dwSize = sizeof(DSCAPS);
    caps->dwMinSecondarySampleRate = kMinSamplesPerSec;
    caps->dwMaxSecondarySampleRate = kMaxSamplesPerSec;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER,
                                                 LPDIRECTSOUNDBUFFER* duplicate) override {
    if (duplicate != nullptr) {
      *duplicate = nullptr;
    }
    return DSERR_UNSUPPORTED;
  }

  // The window is only a token here: no window system is consulted.
  HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND, DWORD level) override {
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) {
      return DSERR_INVALIDPARAM;
    }
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Compact() override { return DS_OK; }
  HRESULT STDMETHODCALLTYPE GetSpeakerConfig(LPDWORD config) override {
    if (config == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    *config = 4;  // DSSPEAKER_STEREO
    return DS_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSpeakerConfig(DWORD) override { return DS_OK; }
  HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return DSERR_ALREADYINITIALIZED; }
};

class CaptureDevice final : public DeviceObject<IDirectSoundCapture> {
 public:
  using DeviceObject::DeviceObject;

  HRESULT STDMETHODCALLTYPE CreateCaptureBuffer(LPCDSCBUFFERDESC description,
                                                LPDIRECTSOUNDCAPTUREBUFFER* buffer,
                                                LPUNKNOWN outer) override {
    return NewBuffer(twplat::sound::CreateCaptureBuffer, description, buffer, outer);
  }

  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCCAPS caps) override {
    if (!CapsRecordKnown(caps)) {
      return DSERR_INVALIDPARAM;
    }
    caps->dwFlags = 0;
    caps->dwFormats = 0;
    caps->dwChannels = kMaxChannels;
    return DS_OK;
  }

  HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return DSERR_ALREADYINITIALIZED; }
};

HRESULT Enumerate(Direction direction, LPDSENUMCALLBACKA callback, LPVOID context) {
  if (callback == nullptr) {
    return DSERR_INVALIDPARAM;
  }
  for (const ListedDevice& device : ListDevices(direction)) {
    if (!callback(device.guid, device.description.c_str(), device.module.c_str(), context)) {
      break;
    }
  }
  return DS_OK;
}

// DS_OK with the device to open, or DSERR_NODRIVER when the GUID names no
// device or it belongs to a sound server that is not installed. A device
// whose server is not running yet opens, with one line saying so.
HRESULT ChooseDevice(Direction direction, LPCGUID guid, DeviceChoice* device) {
  const HRESULT found = FindDevice(direction, guid, device);
  if (found != DS_OK) {
    return found;
  }
  switch (DevicePresence(*device)) {
    case Presence::kReachable:
      return DS_OK;
    case Presence::kAway:
      NoteServerAway(direction == Direction::kCapture);
      return DS_OK;
    case Presence::kMissing:
      break;
  }
  return DSERR_NODRIVER;
}

template <typename Device, typename Interface>
HRESULT CreateDevice(Direction direction, LPCGUID guid, Interface** object, LPUNKNOWN outer) {
  if (object == nullptr) {
    return DSERR_INVALIDPARAM;
  }
  *object = nullptr;
  if (outer != nullptr) {
    return DSERR_NOAGGREGATION;
  }
  DeviceChoice device;
  const HRESULT chosen = ChooseDevice(direction, guid, &device);
  if (chosen != DS_OK) {
    return chosen;
  }
  auto* made = new (std::nothrow) Device(device);
  if (made == nullptr) {
    return DSERR_OUTOFMEMORY;
  }
  *object = made;
  return DS_OK;
}

}  // namespace
}  // namespace twplat::sound

using twplat::sound::Direction;

HRESULT WINAPI DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
  return twplat::sound::Enumerate(Direction::kPlayback, callback, context);
}

HRESULT WINAPI DirectSoundCaptureEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context) {
  return twplat::sound::Enumerate(Direction::kCapture, callback, context);
}

HRESULT WINAPI DirectSoundCreate(LPCGUID guid, LPDIRECTSOUND* device, LPUNKNOWN outer) {
  return twplat::sound::CreateDevice<twplat::sound::PlaybackDevice>(Direction::kPlayback, guid,
                                                                    device, outer);
}

HRESULT WINAPI DirectSoundCaptureCreate(LPCGUID guid, LPDIRECTSOUNDCAPTURE* device,
                                        LPUNKNOWN outer) {
  return twplat::sound::CreateDevice<twplat::sound::CaptureDevice>(Direction::kCapture, guid,
                                                                   device, outer);
}
