#include "tests/windows/unit/message_boxes.h"

namespace twtest {
namespace {

// The static control that holds a message box's text.
constexpr int kBoxTextId = 0xFFFF;
constexpr int kPollMs = 20;

}  // namespace

BoxText WaitForBoxAndClose(const char* caption, int timeoutMs) {
  BoxText result;
  for (int waited = 0; waited <= timeoutMs; waited += kPollMs) {
    HWND box = FindWindowA(nullptr, caption);
    if (box != nullptr) {
      char text[1024] = {};
      GetDlgItemTextA(box, kBoxTextId, text, sizeof text);
      result.found = true;
      result.text = text;
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return result;
    }
    Sleep(kPollMs);
  }
  return result;
}

}  // namespace twtest
