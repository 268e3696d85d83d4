// The user-interface thread's idle wait on the desktop: Qt's event loop runs
// (painting, user input, the host's queued work) until another thread makes
// one of the window system's descriptors readable.
#pragma once

#include <windows.h>

namespace twqt {

// Runs Qt's event loop on the calling thread, which must be Qt's thread,
// until one of fds is readable or timeoutMs passes (INFINITE: never).
// Returns the index of a readable fd, -1 on time-out, -2 for bad arguments.
int RunEventLoopUntilReadable(const int* fds, int count, DWORD timeoutMs);

}  // namespace twqt
