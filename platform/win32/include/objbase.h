// COM start-up and shut-down on the calling thread.
#pragma once

#include "windows.h"

HRESULT WINAPI CoInitialize(LPVOID reserved);
void WINAPI CoUninitialize();
