#include <windows.h>

#include <commctrl.h>

#include <objbase.h>

#include "app/entry.h"

#include "app/main_window.h"
#include "core/app_state.h"
#include "res/resource.h"

// Failures of COM start-up or of the dialog are not reported: the program
// then simply ends with 0.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  appState.instance = instance;
  InitCommonControls();
  CoInitialize(nullptr);
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
  CoUninitialize();
  return 0;
}
