// The one interface behind which every backend moves sound: a running
// stream between a SoundRing and a device.
#pragma once

#include <mmsystem.h>
#include <windows.h>

#include <memory>
#include <string>

#include "platform/dsound/sound_ring.h"

namespace twplat::sound {

enum class Direction { kPlayback, kCapture };
enum class BackendKind { kPulse, kBuiltin };

// A device as the buffers open it: its backend and its name there (empty for
// the backend's default device).
struct DeviceChoice {
  BackendKind backend = BackendKind::kBuiltin;
  Direction direction = Direction::kPlayback;
  std::string name;
};

// A stream runs from its creation to its destruction; once the destructor
// has returned, the device side no longer touches the ring.
class DeviceStream {
 public:
  virtual ~DeviceStream() = default;
  // True once the device or the connection to it is gone; the stream then
  // moves nothing more and a new one has to be made.
  virtual bool Failed() const = 0;
};

// Starts moving bytes between ring and device at the ring's cursor. On
// failure returns null with the reason in *result: DSERR_BUFFERLOST when the
// device is out of reach, DSERR_BADFORMAT when it refuses the format.
// startAway: a sound server that is out of reach is taken for one that is
// restarting, and the stream starts without it (see reconnecting_stream.h).
std::unique_ptr<DeviceStream> OpenDeviceStream(const DeviceChoice& device, SoundRing& ring,
                                               HRESULT* result, bool startAway = false);

enum class Presence {
  kReachable,  // its backend answers now
  kAway,       // a sound server that is installed but not running (yet)
  kMissing,
};

// Whether the device's backend can be reached now (blocks at most a few
// seconds while it connects). A device of a sound server that is away is
// opened all the same: its streams wait for the server with silence.
Presence DevicePresence(const DeviceChoice& device);

}  // namespace twplat::sound
