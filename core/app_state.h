// The program's process-wide state, one instance. Fields shared between the
// user-interface thread and the worker are atomics; each is written and read
// whole, in the orders the run-control code gives.
#pragma once

#include <windows.h>

#include <atomic>

#include "core/stream_header.h"

enum RunState : LONG {
  kRunIdle = 0,
  kRunRunning = 2,  // 1 is not used
  kRunFinished = 3,
};

inline constexpr UINT WM_RUN_FINISHED = 36000;  // 0x8CA0, posted to the main window
inline constexpr int kTargetHostBytes = 1024;
// A live Client sends about 176 kB/s without a pause, so a peer that moves no
// byte either way for this long is taken to be gone (its host switched off,
// its cable pulled): the connection is given up instead of held for ever.
inline constexpr int kStalledPeerMs = 10000;

struct AppState {
  HINSTANCE instance = nullptr;
  std::atomic<HWND> mainWindow{nullptr};
  std::atomic<HWND> statusLine{nullptr};
  std::atomic<HWND> bufferMeter{nullptr};
  // Written by StartRun before the worker starts, read by the worker only.
  char targetHost[kTargetHostBytes] = {};
  std::atomic<int> targetPort{0};
  std::atomic<LONG> stopRequested{0};
  std::atomic<LONG> runState{kRunIdle};
  HANDLE workerThread = nullptr;  // user-interface thread only
  std::atomic<LONG> volume{0};    // hundredths of a decibel, -5000..0
  std::atomic<LONG> appliedVolume{-1};
  SharedHeader currentHeader;
  std::atomic<LONG> winsockStarted{0};
  // The stall limit the connections use: kStalledPeerMs in the program;
  // tests whose subject is not the limit itself shorten it.
  std::atomic<int> stalledPeerMs{kStalledPeerMs};
  // The Server's playback target in ms: 0 adapts to the link. Read when a
  // connection starts playing.
  std::atomic<LONG> latencyTargetMs{0};
};

extern AppState appState;

// True once Stop has asked the running worker to end.
inline bool StopRequested() { return appState.stopRequested.load() != 0; }
