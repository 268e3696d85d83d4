// The worker thread procedures of the two roles. Each builds its role's audio
// context, runs the role's runner, then releases the context; the parameter is
// the device identifier (a GUID pointer, or null for the default device).
#pragma once

#include <windows.h>

DWORD WINAPI CaptureWorker(LPVOID deviceId);
DWORD WINAPI PlaybackWorker(LPVOID deviceId);
