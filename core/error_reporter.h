// Turns a failed platform call into a modal box that names the failed step and
// shows the code with a readable text. Blocks the calling thread until closed.
#pragma once

#include <windows.h>

void ReportError(const char* operation, LONG code);
