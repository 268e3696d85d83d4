#include "test_dialog.h"

#include <map>

namespace twtest {
namespace {

thread_local std::map<HWND, TestDialog*> runningDialogs;

INT_PTR CALLBACK TestDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<TestDialog*>(lParam);
    dialog->window = window;
    runningDialogs[window] = dialog;
    return dialog->onInit(window);
  }
  auto found = runningDialogs.find(window);
  if (found == runningDialogs.end()) {
    return FALSE;
  }
  TestDialog* dialog = found->second;
  if (message == WM_DESTROY) {
    runningDialogs.erase(found);
  }
  return dialog->onMessage(window, message, wParam, lParam);
}

}  // namespace

INT_PTR RunDialog(WORD templateId, HWND owner, TestDialog& dialog) {
  return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(templateId), owner, TestDialogProc,
                         reinterpret_cast<LPARAM>(&dialog));
}

void RunInsideDialog(const std::function<void(HWND dialog)>& body) {
  TestDialog dialog;
  dialog.onInit = [&](HWND window) -> INT_PTR {
    body(window);
    EndDialog(window, 0);
    return TRUE;
  };
  RunDialog(129, nullptr, dialog);
}

}  // namespace twtest
