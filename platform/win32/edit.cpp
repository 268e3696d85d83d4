// EDIT: single-line text fields. ES_NUMBER refuses typed characters other
// than digits; text set by WM_SETTEXT is taken as it is, as on Windows.
#include <cctype>

#include "window_classes.h"

namespace twplat {
namespace {

void Type(HWND edit, char typed) {
  bool changed = false;
  ChangeWindow(edit, WindowChange::kText, [&](Window& window) {
    bool digitsOnly = (window.description.style & ES_NUMBER) != 0;
    bool printable = static_cast<unsigned char>(typed) >= 0x20;
    if (digitsOnly && printable && !std::isdigit(static_cast<unsigned char>(typed))) {
      return false;
    }
    changed = ApplyTypedCharacter(&window.state.text, &window.selectAll, typed);
    return changed;
  });
  if (changed) {
    NotifyParent(edit, EN_CHANGE);
  }
}

}  // namespace

LRESULT EditProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (HandleTextMessage(window, message, wParam, lParam, &result)) {
    return result;
  }
  switch (message) {
    case WM_CHAR:
      if (AcceptsInput(window)) {
        Type(window, static_cast<char>(wParam));
      }
      return 0;
    case EM_SETSEL:
      // Only "select everything" (0, -1) is kept; any other selection leaves
      // the caret at the end of the text.
      WithWindow(window, [&](Window& edit) { edit.selectAll = wParam == 0 && lParam == -1; });
      return 0;
    default:
      return 0;
  }
}

}  // namespace twplat
