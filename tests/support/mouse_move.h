// A mouse movement over a window, for tests that need input which changes
// nothing but still counts as input: it wakes MsgWaitForMultipleObjects with
// QS_MOUSEMOVE and postpones the idle time-outs that watch for input.
#pragma once

#include <windows.h>

namespace twtest {

// Queues WM_MOUSEMOVE on the window's thread, from any thread. Taken even by
// a disabled window. False when the window is not there.
bool SimulateMouseMove(HWND window);

}  // namespace twtest
