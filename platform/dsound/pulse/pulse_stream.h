// A sound server stream between a SoundRing and a sink or source.
#pragma once

#include <memory>

#include "platform/dsound/device_stream.h"

namespace twplat::sound {

std::unique_ptr<DeviceStream> OpenPulseStream(const DeviceChoice& device, SoundRing& ring,
                                              HRESULT* result);

}  // namespace twplat::sound
