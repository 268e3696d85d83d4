// The About box (dialog template 103): icon, product name, author line, OK.
#pragma once

#include <windows.h>

// OK and Enter end the box with IDOK; Escape and the close box with IDCANCEL.
INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
