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

// Keeps the ring's cursor at the format's pace while its real device is away:
// capture stores silence, playback takes the ring's sound and drops it, and
// the notification positions are signalled as the cursor passes them. Null
// when memory is short.
std::unique_ptr<DeviceStream> OpenStandInStream(Direction direction, SoundRing& ring);

}  // namespace twplat::sound
