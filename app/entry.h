// The program's entry: runs the main window until it is closed.
#pragma once

#include <windows.h>

// Only the instance is used; the other arguments are ignored. Always 0.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand);
