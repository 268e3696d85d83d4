#include "tests/support/sound_helpers.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>

namespace twtest {
namespace {

BOOL CALLBACK Collect(LPGUID guid, LPCSTR description, LPCSTR module, LPVOID context) {
  auto& list = *static_cast<std::vector<ListedSoundDevice>*>(context);
  ListedSoundDevice device;
  if (guid != nullptr) {
    device.guid = *guid;
  }
  device.description = description;
  device.module = module;
  list.push_back(device);
  return TRUE;
}

}  // namespace

std::vector<ListedSoundDevice> ListSoundDevices(bool capture) {
  std::vector<ListedSoundDevice> list;
  if (capture) {
    DirectSoundCaptureEnumerateA(Collect, &list);
  } else {
    DirectSoundEnumerateA(Collect, &list);
  }
  return list;
}

std::optional<GUID> SoundDeviceNamed(bool capture, const std::string& description) {
  for (const ListedSoundDevice& device : ListSoundDevices(capture)) {
    if (device.description == description) {
      return device.guid;
    }
  }
  return std::nullopt;
}

DSBUFFERDESC PlaybackDescription(WAVEFORMATEX* format, DWORD bytes, DWORD flags) {
  DSBUFFERDESC description{};
  description.dwSize = sizeof description;
  description.dwFlags = flags;
  description.dwBufferBytes = bytes;
  description.lpwfxFormat = format;
  return description;
}

DSCBUFFERDESC CaptureDescription(WAVEFORMATEX* format, DWORD bytes) {
  DSCBUFFERDESC description{};
  description.dwSize = sizeof description;
  description.dwBufferBytes = bytes;
  description.lpwfxFormat = format;
  return description;
}

HRESULT FillRing(IDirectSoundBuffer* buffer, const std::vector<BYTE>& bytes) {
  LPVOID region1 = nullptr;
  LPVOID region2 = nullptr;
  DWORD bytes1 = 0;
  DWORD bytes2 = 0;
  const auto count = static_cast<DWORD>(bytes.size());
  HRESULT result = buffer->Lock(0, count, &region1, &bytes1, &region2, &bytes2, 0);
  if (FAILED(result)) {
    return result;
  }
  std::memcpy(region1, bytes.data(), bytes1);
  return buffer->Unlock(region1, bytes1, region2, bytes2);
}

std::vector<BYTE> Record(IDirectSoundCaptureBuffer* buffer, size_t count, int timeoutMs) {
  DSCBCAPS caps{};
  caps.dwSize = sizeof caps;
  buffer->GetCaps(&caps);
  std::vector<BYTE> recorded;
  DWORD readOffset = 0;
  buffer->GetCurrentPosition(nullptr, &readOffset);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (recorded.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    DWORD readPosition = 0;
    buffer->GetCurrentPosition(nullptr, &readPosition);
    const DWORD ready = (readPosition + caps.dwBufferBytes - readOffset) % caps.dwBufferBytes;
    if (ready == 0) {
      continue;
    }
    LPVOID region1 = nullptr;
    LPVOID region2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    if (FAILED(buffer->Lock(readOffset, ready, &region1, &bytes1, &region2, &bytes2, 0))) {
      break;
    }
    const auto* first = static_cast<const BYTE*>(region1);
    const auto* second = static_cast<const BYTE*>(region2);
    recorded.insert(recorded.end(), first, first + bytes1);
    if (second != nullptr) {
      recorded.insert(recorded.end(), second, second + bytes2);
    }
    buffer->Unlock(region1, bytes1, region2, bytes2);
    readOffset = readPosition;
  }
  if (recorded.size() > count) {
    recorded.resize(count);
  }
  return recorded;
}

std::vector<BYTE> SineBytes(const WAVEFORMATEX& format, double hz, double amplitude, DWORD frames,
                            double channelPhase) {
  std::vector<BYTE> bytes;
  const int sampleBytes = format.wBitsPerSample / 8;
  const double fullScale = std::ldexp(1.0, format.wBitsPerSample - 1);
  for (DWORD frame = 0; frame < frames; ++frame) {
    const double angle = 2 * std::numbers::pi * hz * frame / format.nSamplesPerSec;
    for (int channel = 0; channel < format.nChannels; ++channel) {
      auto value = static_cast<long long>(
          std::lround(amplitude * fullScale * std::sin(angle + channel * channelPhase)));
      value = std::min(value, static_cast<long long>(fullScale) - 1);
      if (sampleBytes == 1) {
        bytes.push_back(static_cast<BYTE>(value + 128));
        continue;
      }
      for (int i = 0; i < sampleBytes; ++i) {
        bytes.push_back(static_cast<BYTE>(static_cast<unsigned long long>(value) >> (8 * i)));
      }
    }
  }
  return bytes;
}

}  // namespace twtest
