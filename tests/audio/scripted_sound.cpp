#include "tests/audio/scripted_sound.h"

#include <algorithm>

namespace twtest {
namespace {

// Hands out the buffer's recording notify, and nothing else, unless
// queryResult says to fail.
template <typename Buffer>
HRESULT HandOutNotify(Buffer& buffer, REFIID riid, void** object) {
  if (FAILED(buffer.queryResult) || !IsEqualIID(riid, IID_IDirectSoundNotify)) {
    return FAILED(buffer.queryResult) ? buffer.queryResult : E_NOINTERFACE;
  }
  buffer.AddRef();
  *object = static_cast<IDirectSoundNotify*>(&buffer.notify);
  return DS_OK;
}

}  // namespace

ScriptedRing::ScriptedRing(DWORD size) : ring(size) {}

HRESULT ScriptedRing::NextLockResult() {
  if (lockResults.empty()) {
    return DS_OK;
  }
  const HRESULT result = lockResults.front();
  lockResults.pop_front();
  return result;
}

HRESULT ScriptedRing::LockRing(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1,
                               LPVOID* region2, LPDWORD bytes2) {
  locks.push_back(LockCall{offset, bytes});
  const HRESULT result = NextLockResult();
  if (FAILED(result)) {
    return result;
  }
  const auto size = static_cast<DWORD>(ring.size());
  *bytes1 = std::min(bytes, size - offset);
  *region1 = ring.data() + offset;
  *bytes2 = bytes - *bytes1;
  *region2 = *bytes2 > 0 ? ring.data() : nullptr;
  return DS_OK;
}

void ScriptedRing::CountPosition() {
  ++positionCalls;
  if (stopAfterPositions > 0 && positionCalls >= stopAfterPositions) {
    appState.stopRequested.store(1);
  }
  if (eventToSignal != nullptr) {
    SetEvent(eventToSignal);
  }
}

HRESULT ScriptedCaptureBuffer::QueryInterface(REFIID riid, void** object) {
  return HandOutNotify(*this, riid, object);
}

HRESULT ScriptedCaptureBuffer::GetCurrentPosition(LPDWORD capture, LPDWORD read) {
  CountPosition();
  if (FAILED(positionResult)) {
    return positionResult;
  }
  *capture = readPositions.front();
  *read = readPositions.front();
  if (readPositions.size() > 1) {
    readPositions.pop_front();
  }
  return DS_OK;
}

HRESULT ScriptedCaptureBuffer::Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1,
                                    LPVOID* region2, LPDWORD bytes2, DWORD) {
  return LockRing(offset, bytes, region1, bytes1, region2, bytes2);
}

HRESULT ScriptedPlaybackBuffer::QueryInterface(REFIID riid, void** object) {
  return HandOutNotify(*this, riid, object);
}

HRESULT ScriptedPlaybackBuffer::GetCurrentPosition(LPDWORD play, LPDWORD write) {
  CountPosition();
  if (FAILED(positionResult)) {
    return positionResult;
  }
  *play = cursors.front().first;
  *write = cursors.front().second;
  if (cursors.size() > 1) {
    cursors.pop_front();
  }
  return DS_OK;
}

HRESULT ScriptedPlaybackBuffer::Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1,
                                     LPVOID* region2, LPDWORD bytes2, DWORD) {
  return LockRing(offset, bytes, region1, bytes1, region2, bytes2);
}

}  // namespace twtest
