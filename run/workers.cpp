// Winsock's header has to come before <windows.h>, which run/workers.h brings.
#include <winsock2.h>

#include "run/workers.h"

#include "audio/capture_context.h"
#include "audio/playback_context.h"
#include "runners/receiver.h"
#include "runners/sender.h"

// Each context outlives its runner: it is destroyed after the runner's
// FinishRun, so the window may already look idle while this thread still
// releases the socket and the audio objects.

DWORD WINAPI CaptureWorker(LPVOID deviceId) {
  CaptureContext context;
  return RunSender(context, static_cast<LPCGUID>(deviceId));
}

DWORD WINAPI PlaybackWorker(LPVOID deviceId) {
  PlaybackContext context;
  return RunReceiver(context, static_cast<LPCGUID>(deviceId));
}
