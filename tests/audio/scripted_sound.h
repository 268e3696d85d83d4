// Sound objects with scripted cursors and results over a plain byte ring,
// for exact cases of the ring reader and writer. Tests own them; Release only
// counts.
#pragma once

#include <dsound.h>
#include <windows.h>

#include <algorithm>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "core/app_state.h"

namespace twtest {

struct LockCall {
  DWORD offset;
  DWORD bytes;
};

// IDirectSoundNotify that records the positions it is given.
class RecordingNotify final : public IDirectSoundNotify {
 public:
  explicit RecordingNotify(IUnknown& owner) : owner_(owner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }
  HRESULT STDMETHODCALLTYPE SetNotificationPositions(DWORD count,
                                                     LPCDSBPOSITIONNOTIFY entries) override {
    positions.assign(entries, entries + count);
    return result;
  }

  std::vector<DWORD> Offsets() const {
    std::vector<DWORD> offsets;
    for (const DSBPOSITIONNOTIFY& entry : positions) {
      offsets.push_back(entry.dwOffset);
    }
    return offsets;
  }
  // True when there are positions and every one signals event.
  bool AllSignal(HANDLE event) const {
    return !positions.empty() &&
           std::all_of(positions.begin(), positions.end(), [event](const DSBPOSITIONNOTIFY& entry) {
             return entry.hEventNotify == event;
           });
  }

  std::vector<DSBPOSITIONNOTIFY> positions;
  HRESULT result = DS_OK;

 private:
  IUnknown& owner_;
};

// What both scripted buffers share: the ring, the lock calls, the counts.
class ScriptedRing {
 public:
  explicit ScriptedRing(DWORD size);
  HRESULT LockRing(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1, LPVOID* region2,
                   LPDWORD bytes2);
  HRESULT NextLockResult();

  std::vector<BYTE> ring;
  std::vector<LockCall> locks;
  std::deque<HRESULT> lockResults;  // consumed one per Lock; DS_OK when empty
  HRESULT positionResult = DS_OK;
  HRESULT queryResult = DS_OK;
  int positionCalls = 0;
  int references = 1;
  // After this many position queries a stop is requested (0: never).
  int stopAfterPositions = 0;
  // Signalled on every position query, as a device signals while it moves,
  // so the waits between queries end at once.
  HANDLE eventToSignal = nullptr;

 protected:
  void CountPosition();
};

class ScriptedCaptureBuffer final : public IDirectSoundCaptureBuffer, public ScriptedRing {
 public:
  explicit ScriptedCaptureBuffer(DWORD size) : ScriptedRing(size), notify(*this) {}

  // Read positions, one per query; the last one stays.
  std::deque<DWORD> readPositions{0};
  RecordingNotify notify;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCBCAPS) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD capture, LPDWORD read) override;
  HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override {
    return DSERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUNDCAPTURE, LPCDSCBUFFERDESC) override {
    return DSERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1,
                                 LPVOID* region2, LPDWORD bytes2, DWORD) override;
  HRESULT STDMETHODCALLTYPE Start(DWORD) override { return DS_OK; }
  HRESULT STDMETHODCALLTYPE Stop() override { return DS_OK; }
  HRESULT STDMETHODCALLTYPE Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return DS_OK; }
};

class ScriptedPlaybackBuffer final : public IDirectSoundBuffer, public ScriptedRing {
 public:
  explicit ScriptedPlaybackBuffer(DWORD size) : ScriptedRing(size), notify(*this) {}

  // Play and write cursors, one pair per query; the last pair stays.
  std::deque<std::pair<DWORD, DWORD>> cursors{{0, 0}};
  RecordingNotify notify;
  std::vector<LONG> volumes;
  std::vector<std::string> calls;  // "Play", "Restore", "Stop", "Release", in order
  HRESULT unlockResult = DS_OK;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override {
    calls.push_back("Release");
    return --references;
  }
  HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD play, LPDWORD write) override;
  HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override {
    return DSERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE GetVolume(LPLONG) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetPan(LPLONG) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetFrequency(LPDWORD) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override {
    return DSERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* region1, LPDWORD bytes1,
                                 LPVOID* region2, LPDWORD bytes2, DWORD) override;
  HRESULT STDMETHODCALLTYPE Play(DWORD, DWORD, DWORD) override {
    calls.push_back("Play");
    return DS_OK;
  }
  HRESULT STDMETHODCALLTYPE SetCurrentPosition(DWORD) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE SetFormat(LPCWAVEFORMATEX) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE SetVolume(LONG volume) override {
    volumes.push_back(volume);
    return DSERR_CONTROLUNAVAIL;  // a refusal the writer must shrug off
  }
  HRESULT STDMETHODCALLTYPE SetPan(LONG) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE SetFrequency(DWORD) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE Stop() override {
    calls.push_back("Stop");
    return DS_OK;
  }
  HRESULT STDMETHODCALLTYPE Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return unlockResult; }
  HRESULT STDMETHODCALLTYPE Restore() override {
    calls.push_back("Restore");
    return DS_OK;
  }
};

// Devices that hand out a scripted buffer (or fail) and keep the description.
template <typename Interface, typename Description>
class ScriptedDevice : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return DSERR_UNSUPPORTED; }

  Description description{};
  WAVEFORMATEX format{};
  HRESULT result = DS_OK;

 protected:
  template <typename Buffer, typename Out>
  HRESULT HandOut(const Description* given, Buffer* made, Out** buffer) {
    description = *given;
    format = *given->lpwfxFormat;
    if (FAILED(result)) {
      return result;
    }
    *buffer = made;
    return DS_OK;
  }
};

class ScriptedCaptureDevice final : public ScriptedDevice<IDirectSoundCapture, DSCBUFFERDESC> {
 public:
  explicit ScriptedCaptureDevice(ScriptedCaptureBuffer* buffer) : buffer_(buffer) {}
  HRESULT STDMETHODCALLTYPE CreateCaptureBuffer(LPCDSCBUFFERDESC description,
                                                LPDIRECTSOUNDCAPTUREBUFFER* buffer,
                                                LPUNKNOWN) override {
    return HandOut(description, buffer_, buffer);
  }
  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCCAPS) override { return DSERR_UNSUPPORTED; }

 private:
  ScriptedCaptureBuffer* buffer_;
};

class ScriptedPlaybackDevice final : public ScriptedDevice<IDirectSound, DSBUFFERDESC> {
 public:
  explicit ScriptedPlaybackDevice(ScriptedPlaybackBuffer* buffer) : buffer_(buffer) {}
  HRESULT STDMETHODCALLTYPE CreateSoundBuffer(LPCDSBUFFERDESC description,
                                              LPDIRECTSOUNDBUFFER* buffer, LPUNKNOWN) override {
    return HandOut(description, buffer_, buffer);
  }
  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCAPS) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER,
                                                 LPDIRECTSOUNDBUFFER*) override {
    return DSERR_UNSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND, DWORD) override { return DS_OK; }
  HRESULT STDMETHODCALLTYPE Compact() override { return DS_OK; }
  HRESULT STDMETHODCALLTYPE GetSpeakerConfig(LPDWORD) override { return DSERR_UNSUPPORTED; }
  HRESULT STDMETHODCALLTYPE SetSpeakerConfig(DWORD) override { return DSERR_UNSUPPORTED; }

 private:
  ScriptedPlaybackBuffer* buffer_;
};

}  // namespace twtest
