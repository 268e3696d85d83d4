#include "app/about_box.h"

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    return TRUE;  // the focus goes to OK, the only tab stop
  }
  if (message != WM_COMMAND) {
    return FALSE;
  }
  const int id = LOWORD(wParam);
  if (id != IDOK && id != IDCANCEL) {
    return FALSE;
  }
  EndDialog(window, id);
  return TRUE;
}
