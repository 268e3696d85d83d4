#include "platform/dsound/buffer_core.h"

#include <algorithm>
#include <cstring>

namespace twplat::sound {

HRESULT BufferCore::Allocate(const WAVEFORMATEX& format, DWORD bytes) {
  return ring_.Allocate(format, bytes) ? DS_OK : DSERR_OUTOFMEMORY;
}

bool BufferCore::lost() {
  if (stream_ != nullptr && stream_->Failed()) {
    lost_ = true;
  }
  return lost_;
}

HRESULT BufferCore::StartStream(bool resumeOnRestore) {
  if (lost()) {
    return DSERR_BUFFERLOST;
  }
  if (running_) {
    return DS_OK;
  }
  HRESULT result = DS_OK;
  stream_ = OpenDeviceStream(device_, ring_, &result, resumeOnRestore);
  running_ = stream_ != nullptr;
  if (result == DSERR_BUFFERLOST && resumeOnRestore) {
    lost_ = true;
    running_ = true;
  }
  return result;
}

void BufferCore::StopStream() {
  stream_.reset();
  if (running_) {
    ring_.SignalStopNotifications();
  }
  running_ = false;
}

HRESULT BufferCore::Restore() {
  if (!lost()) {
    return DS_OK;
  }
  stream_.reset();
  if (running_) {
    HRESULT result = DS_OK;
    stream_ = OpenDeviceStream(device_, ring_, &result);
    if (stream_ == nullptr) {
      return DSERR_BUFFERLOST;
    }
  } else if (DevicePresence(device_) == Presence::kMissing) {
    return DSERR_BUFFERLOST;
  }
  lost_ = false;
  return DS_OK;
}

HRESULT BufferCore::SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) {
  if (running_ || stream_ != nullptr) {
    return DSERR_INVALIDCALL;  // the device thread reads the list without a lock
  }
  return ring_.SetNotifications(count, positions);
}

// With no record, reports the size needed; otherwise copies as much of the
// 18-byte record as fits.
HRESULT BufferCore::GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated,
                              LPDWORD sizeWritten) const {
  if (format == nullptr) {
    if (sizeWritten == nullptr) {
      return DSERR_INVALIDPARAM;
    }
    *sizeWritten = sizeof(WAVEFORMATEX);
    return DS_OK;
  }
  const DWORD copied = std::min<DWORD>(sizeAllocated, sizeof(WAVEFORMATEX));
  std::memcpy(format, &ring_.format(), copied);
  if (sizeWritten != nullptr) {
    *sizeWritten = copied;
  }
  return DS_OK;
}

}  // namespace twplat::sound
