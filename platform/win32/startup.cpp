// Start-up calls that have nothing to prepare here: the common-control
// classes are built in, and no COM object is ever created.
#include <commctrl.h>
#include <objbase.h>

void WINAPI InitCommonControls() {}

HRESULT WINAPI CoInitialize(LPVOID) { return S_OK; }

void WINAPI CoUninitialize() {}
