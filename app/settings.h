// The main window's settings, kept per user from one closing of the window
// to its next opening: role, target host, port, device (by its text),
// volume and the Server's playback target (LatencyMs, 0 adapts; set by
// tonewire-cli --latency), under HKEY_CURRENT_USER\Software\Tonewire.
//
// Thread contract: user-interface thread only; SetSettingsUse before the
// window opens.
#pragma once

#include <windows.h>

enum class SettingsUse {
  kReadWrite,  // the desktop program: open with the last settings, keep them at closing
  kWriteOnly,  // open with the defaults, keep the settings at closing
  kNone,       // neither: a window driven by another program
};

void SetSettingsUse(SettingsUse use);

// Puts the kept settings into a freshly initialised window. A value that is
// missing or out of range leaves that control as it is; a device that is no
// longer listed leaves the list's own choice.
void ApplyKeptSettings(HWND window);

// Keeps what the window shows now; failures are not reported (the window is
// closing and the settings are a convenience).
void KeepSettings(HWND window);
