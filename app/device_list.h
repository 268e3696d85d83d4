// The device list of the main window (a sorted drop-down combo box): filled
// by the sound-device enumeration, one entry per device, with the device's
// GUID as the entry's item data; the default device has none.
//
// Thread contract: user-interface thread only.
#pragma once

#include <windows.h>

#include <dsound.h>

// The enumeration callback (LPDSENUMCALLBACKA). context is the combo box.
// Adds the device, preselects the default device or, better, one whose
// description contains "irtual" (the later one wins). FALSE stops the
// enumeration when a GUID copy cannot be allocated.
BOOL CALLBACK AddDeviceEntry(LPGUID guid, LPCSTR description, LPCSTR module, LPVOID context);

// The GUID of the chosen entry of window's device list, or null for the
// default device. With no entry chosen (an empty list, or text typed into the
// field) it is null too: Start then uses the default device.
LPGUID SelectedDeviceId(HWND window);
