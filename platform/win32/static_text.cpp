// STATIC: labels, the status line and the icon picture.
#include "window_classes.h"

namespace twplat {

LRESULT StaticProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  HandleTextMessage(window, message, wParam, lParam, &result);
  return result;
}

}  // namespace twplat
