#include "audio/ring_span.h"

#include <cstring>

#include "core/error_reporter.h"

namespace {

constexpr int kNotifyCount = 8;

HRESULT SetPositions(IDirectSoundNotify* notify, HANDLE event, LONG span) {
  DSBPOSITIONNOTIFY positions[kNotifyCount];
  for (LONG k = 0; k < kNotifyCount; ++k) {
    positions[k].dwOffset = static_cast<DWORD>(k * span / kNotifyCount);
    positions[k].hEventNotify = event;
  }
  return notify->SetNotificationPositions(kNotifyCount, positions);
}

}  // namespace

HRESULT SetEightNotifyPositions(IUnknown* buffer, HANDLE event, LONG span,
                                const NotifyStepNames& names) {
  void* notifyObject = nullptr;
  HRESULT result = buffer->QueryInterface(IID_IDirectSoundNotify, &notifyObject);
  if (FAILED(result)) {
    ReportError(names.query, result);
    return result;
  }
  auto* notify = static_cast<IDirectSoundNotify*>(notifyObject);
  result = SetPositions(notify, event, span);
  notify->Release();
  if (FAILED(result)) {
    ReportError(names.set, result);
  }
  return result;
}

void RingSpan::CopyTo(BYTE* destination) const {
  std::memcpy(destination, region1, bytes1);
  if (region2 != nullptr) {
    std::memcpy(destination + bytes1, region2, bytes2);
  }
}

void RingSpan::CopyFrom(const BYTE* source) const {
  std::memcpy(region1, source, bytes1);
  if (region2 != nullptr) {
    std::memcpy(region2, source + bytes1, bytes2);
  }
}
