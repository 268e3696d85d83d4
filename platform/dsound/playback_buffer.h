// Playback buffers: a looping ring that a device stream plays.
#pragma once

#include <dsound.h>
#include <windows.h>

#include "platform/dsound/device_stream.h"

namespace twplat::sound {

// Checks the description, then makes a stopped buffer of exactly the
// requested size and format at full volume.
HRESULT CreatePlaybackBuffer(const DeviceChoice& device, LPCDSBUFFERDESC description,
                             LPDIRECTSOUNDBUFFER* buffer);

}  // namespace twplat::sound
