// The built-in devices: "Test tone" (capture) and "Silent output" (playback),
// both paced by the built-in clock.
#pragma once

#include <memory>

#include "platform/dsound/device_stream.h"

namespace twplat::sound {

inline constexpr char kTestToneName[] = "Test tone";
inline constexpr char kSilentOutputName[] = "Silent output";

std::unique_ptr<DeviceStream> OpenBuiltinStream(Direction direction, SoundRing& ring,
                                                HRESULT* result);

}  // namespace twplat::sound
