// The sound server's devices: sinks for playback, sources (monitors of the
// sinks included) for capture, with the descriptions the server gives them.
#pragma once

#include <string>
#include <vector>

#include "platform/dsound/device_stream.h"

namespace twplat::sound {

struct PulseDevice {
  std::string name;
  std::string description;
};

struct PulseDeviceList {
  std::vector<PulseDevice> devices;
  std::string defaultName;  // the server's default sink or source
};

// False when the server cannot be reached.
bool ListPulseDevices(Direction direction, PulseDeviceList* list);

// True when a server answers (connecting first if needed).
bool PulseReachable();

}  // namespace twplat::sound
