// Which devices exist and how a device GUID finds its device again.
//
// Lists put the default device first (null GUID), then the sound server's
// devices, then the built-in one. A server device's GUID is derived from its
// direction and name, so it stays the same for the life of the process (and
// from one run to the next). Entries are never removed: a GUID handed out
// stays valid, and a device that comes back gets its old GUID.
//
// TONEWIRE_AUDIO=builtin in the environment leaves the sound server out, so
// runs are the same on every machine. While an installed sound server is not
// running, the default entry says so and the list holds the built-in devices.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/dsound/device_stream.h"

namespace twplat::sound {

struct ListedDevice {
  LPGUID guid;  // null for the default device; points into the registry
  std::string description;
  std::string module;
};

bool BuiltinOnly();

std::vector<ListedDevice> ListDevices(Direction direction);

// DS_OK with the device of guid (null: the sound server's default device if a
// server answers or one is installed, else the built-in one), or
// DSERR_NODRIVER for a GUID that names no device of this direction.
HRESULT FindDevice(Direction direction, LPCGUID guid, DeviceChoice* device);

}  // namespace twplat::sound
