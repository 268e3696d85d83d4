// Runs one of the program's dialog templates modally on the calling thread,
// with a dialog procedure made of the test's closures.
#pragma once

#include <windows.h>

#include <functional>

namespace twtest {

struct TestDialog {
  // Inside WM_INITDIALOG; its result is the message's result.
  std::function<INT_PTR(HWND dialog)> onInit = [](HWND) -> INT_PTR { return TRUE; };
  // Every other message; FALSE leaves it to the dialog manager.
  std::function<INT_PTR(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)> onMessage =
      [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; };
  HWND window = nullptr;  // set at WM_INITDIALOG
};

// DialogBoxParamA with the template and owner; returns its result.
INT_PTR RunDialog(WORD templateId, HWND owner, TestDialog& dialog);

// Runs body inside WM_INITDIALOG of the main window template (129), so the
// calling thread owns a dialog and its controls while body runs, then ends
// the dialog.
void RunInsideDialog(const std::function<void(HWND dialog)>& body);

}  // namespace twtest
