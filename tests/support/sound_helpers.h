// Small tools for tests that drive the sound interfaces: listing devices,
// making buffers, recording from a capture buffer, making test signals.
#pragma once

#include <dsound.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace twtest {

struct ListedSoundDevice {
  std::optional<GUID> guid;  // none for the default device
  std::string description;
  std::string module;
};

std::vector<ListedSoundDevice> ListSoundDevices(bool capture);
// The GUID of the device with exactly this description.
std::optional<GUID> SoundDeviceNamed(bool capture, const std::string& description);

// Releases the interface it holds when it goes out of scope.
template <typename Interface>
class Held {
 public:
  Held() = default;
  ~Held() { reset(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Interface* get() const { return object_; }
  Interface* operator->() const { return object_; }
  Interface** out() {
    reset();
    return &object_;
  }
  void reset() {
    if (object_ != nullptr) {
      object_->Release();
      object_ = nullptr;
    }
  }

 private:
  Interface* object_ = nullptr;
};

DSBUFFERDESC PlaybackDescription(WAVEFORMATEX* format, DWORD bytes,
                                 DWORD flags = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPOSITIONNOTIFY |
                                               DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2);
DSCBUFFERDESC CaptureDescription(WAVEFORMATEX* format, DWORD bytes);

// Copies bytes into the ring from offset 0 (bytes.size() <= ring size).
HRESULT FillRing(IDirectSoundBuffer* buffer, const std::vector<BYTE>& bytes);

// Collects what a running capture buffer captures until count bytes are in
// or timeoutMs passes.
std::vector<BYTE> Record(IDirectSoundCaptureBuffer* buffer, size_t count, int timeoutMs);

// A sine on every channel, amplitude in 0 .. 1 of full scale; each channel
// `channelPhase` radians ahead of the one before it.
std::vector<BYTE> SineBytes(const WAVEFORMATEX& format, double hz, double amplitude, DWORD frames,
                            double channelPhase = 0);

}  // namespace twtest
