// A sound server stream that outlives the server: when the server goes away
// (restarted, crashed, updated) the ring's cursor goes on at the format's
// pace on the built-in clock, as a sound card's does while its driver
// recovers, and a new stream to the same device (or the default, once that
// device no longer exists) takes over as soon as a server answers again. The
// program sees a buffer that never stopped, with silence for the outage.
#pragma once

#include <memory>

#include "platform/dsound/device_stream.h"

namespace twplat::sound {

// As OpenDeviceStream for a sound server device: fails only when the first
// stream cannot be made, unless startAway and the server is out of reach;
// then the stream starts as if the server had just gone away.
std::unique_ptr<DeviceStream> OpenReconnectingStream(const DeviceChoice& device, SoundRing& ring,
                                                     bool startAway, HRESULT* result);

}  // namespace twplat::sound
