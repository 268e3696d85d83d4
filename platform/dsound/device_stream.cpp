#include "platform/dsound/device_stream.h"

#include "platform/dsound/builtin/builtin_streams.h"
#include "platform/dsound/device_registry.h"
#include "platform/dsound/pulse/pulse_devices.h"
#include "platform/dsound/pulse/reconnecting_stream.h"
#include "platform/dsound/pulse/server_presence.h"

namespace twplat::sound {

std::unique_ptr<DeviceStream> OpenDeviceStream(const DeviceChoice& device, SoundRing& ring,
                                               HRESULT* result, bool startAway) {
  if (device.backend == BackendKind::kBuiltin) {
    return OpenBuiltinStream(device.direction, ring, result);
  }
  return OpenReconnectingStream(device, ring, startAway, result);
}

Presence DevicePresence(const DeviceChoice& device) {
  if (device.backend == BackendKind::kBuiltin) {
    return Presence::kReachable;
  }
  if (BuiltinOnly()) {
    return Presence::kMissing;
  }
  if (PulseReachable()) {
    NoteServerBack();
    return Presence::kReachable;
  }
  return PulseInstalled() ? Presence::kAway : Presence::kMissing;
}

}  // namespace twplat::sound
