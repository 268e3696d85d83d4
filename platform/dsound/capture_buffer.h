// Capture buffers: a looping ring that a device stream fills.
#pragma once

#include <dsound.h>
#include <windows.h>

#include "platform/dsound/device_stream.h"

namespace twplat::sound {

// Checks the description, then makes a stopped buffer of exactly the
// requested size and format.
HRESULT CreateCaptureBuffer(const DeviceChoice& device, LPCDSCBUFFERDESC description,
                            LPDIRECTSOUNDCAPTUREBUFFER* buffer);

}  // namespace twplat::sound
