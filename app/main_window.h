// The main window "Audio streamer" (dialog template 129): the role, the
// device, the target, the volume slider, the status line and the buffer
// meter, and the commands Start, Stop, About, Exit and "Client Info".
//
// Thread contract: user-interface thread only. The worker reaches the window
// through messages (status texts, the meter, "Client Info", WM_RUN_FINISHED).
#pragma once

#include <windows.h>

// The default target host: a private IPv4 address, dotted quad.
inline constexpr char kDefaultHost[] = "192.168.1.50";
inline constexpr int kDefaultPort = 5567;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the fields with their defaults, checks "Client", sets the volume
// slider to -50..0 dB at 0 and applies the role, then puts in the settings
// kept from the window's last closing (app/settings.h). TRUE: focus on
// "Start".
BOOL InitMainWindow(HWND window);

// Applies the role the radio buttons show: the host field for the Client,
// the slider for the Server, the status text, and the device list refilled
// with the role's devices.
void ApplyRole(HWND window);

// Shows the format the last connected Client announced in an "Info" box.
int ShowClientInfo(HWND window);
