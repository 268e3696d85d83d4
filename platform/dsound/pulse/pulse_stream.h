// A sound server stream between a SoundRing and a sink or source.
#pragma once

#include <functional>
#include <memory>

#include "platform/dsound/device_stream.h"

namespace twplat::sound {

// onFailure, when given, is called once on the sound server's thread when the
// stream fails after it was made (server gone, device removed); it must not
// block.
std::unique_ptr<DeviceStream> OpenPulseStream(const DeviceChoice& device, SoundRing& ring,
                                              HRESULT* result,
                                              std::function<void()> onFailure = {});

}  // namespace twplat::sound
