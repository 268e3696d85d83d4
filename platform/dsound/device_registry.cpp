#include "platform/dsound/device_registry.h"

#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/dsound/builtin/builtin_streams.h"
#include "platform/dsound/pulse/pulse_devices.h"
#include "platform/dsound/pulse/server_presence.h"
#include "platform/env/environment.h"

namespace twplat::sound {
namespace {

struct Entry {
  GUID guid;
  DeviceChoice device;
};

std::mutex registryMutex;
std::deque<Entry> registry;  // never shrinks: GUID pointers stay valid

std::uint64_t Fnv1a(const std::string& text, std::uint64_t seed) {
  std::uint64_t hash = seed;
  for (unsigned char c : text) {
    hash = (hash ^ c) * 0x100000001B3ULL;
  }
  return hash;
}

// 128 bits from two hashes of "kind/direction/name", marked as a name-based
// (version 5 layout) identifier.
GUID GuidForDevice(const DeviceChoice& device) {
  const std::string key = std::to_string(static_cast<int>(device.backend)) + "/" +
                          std::to_string(static_cast<int>(device.direction)) + "/" + device.name;
  const std::uint64_t high = Fnv1a(key, 0xCBF29CE484222325ULL);
  const std::uint64_t low = Fnv1a(key, 0x84222325CBF29CE4ULL);
  GUID guid{};
  guid.Data1 = static_cast<std::uint32_t>(high >> 32);
  guid.Data2 = static_cast<std::uint16_t>(high >> 16);
  guid.Data3 = static_cast<std::uint16_t>((high & 0x0FFF) | 0x5000);
  for (int i = 0; i < 8; ++i) {
    guid.Data4[i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
  }
  guid.Data4[0] = static_cast<std::uint8_t>((guid.Data4[0] & 0x3F) | 0x80);
  return guid;
}

bool SameDevice(const DeviceChoice& a, const DeviceChoice& b) {
  return a.backend == b.backend && a.direction == b.direction && a.name == b.name;
}

LPGUID Register(const DeviceChoice& device) {
  std::lock_guard<std::mutex> lock(registryMutex);
  for (Entry& entry : registry) {
    if (SameDevice(entry.device, device)) {
      return &entry.guid;
    }
  }
  registry.push_back(Entry{GuidForDevice(device), device});
  return &registry.back().guid;
}

bool Lookup(Direction direction, const GUID& guid, DeviceChoice* device) {
  std::lock_guard<std::mutex> lock(registryMutex);
  for (const Entry& entry : registry) {
    if (entry.device.direction == direction && IsEqualGUID(entry.guid, guid)) {
      *device = entry.device;
      return true;
    }
  }
  return false;
}

const char* BuiltinName(Direction direction) {
  return direction == Direction::kPlayback ? kSilentOutputName : kTestToneName;
}

std::string DefaultDescription(bool serverListed, const PulseDeviceList& server,
                               Direction direction) {
  if (serverListed) {
    for (const PulseDevice& device : server.devices) {
      if (device.name == server.defaultName) {
        return "Default: " + device.description;
      }
    }
    return "Default device";
  }
  if (!BuiltinOnly() && PulseInstalled()) {  // but not answering
    return "Default device (sound server not running)";
  }
  const char* reason = BuiltinOnly() ? " (built-in devices only)" : " (no sound server)";
  return std::string("Default: ") + BuiltinName(direction) + reason;
}

}  // namespace

bool BuiltinOnly() { return env::Read(env::kBuiltinAudioOnly); }

std::vector<ListedDevice> ListDevices(Direction direction) {
  PulseDeviceList server;
  const bool serverListed = !BuiltinOnly() && ListPulseDevices(direction, &server);
  std::vector<ListedDevice> list;
  list.push_back(ListedDevice{nullptr, DefaultDescription(serverListed, server, direction), ""});
  for (const PulseDevice& device : server.devices) {
    LPGUID guid = Register(DeviceChoice{BackendKind::kPulse, direction, device.name});
    list.push_back(ListedDevice{guid, device.description, device.name});
  }
  const char* builtin = BuiltinName(direction);
  LPGUID guid = Register(DeviceChoice{BackendKind::kBuiltin, direction, builtin});
  list.push_back(ListedDevice{guid, builtin, builtin});
  return list;
}

HRESULT FindDevice(Direction direction, LPCGUID guid, DeviceChoice* device) {
  if (guid == nullptr) {
    const bool server = !BuiltinOnly() && (PulseReachable() || PulseInstalled());
    *device = server ? DeviceChoice{BackendKind::kPulse, direction, ""}
                     : DeviceChoice{BackendKind::kBuiltin, direction, BuiltinName(direction)};
    return DS_OK;
  }
  if (Lookup(direction, *guid, device)) {
    return DS_OK;
  }
  // A GUID from an earlier run, or one listed in another direction: list
  // this direction's devices now and look again.
  ListDevices(direction);
  return Lookup(direction, *guid, device) ? DS_OK : DSERR_NODRIVER;
}

}  // namespace twplat::sound
