// msctls_trackbar32: a slider with a range (0..100 until set) and a position
// kept inside it. A move by the user tells the dialog with WM_HSCROLL;
// positions set by the program do not.
#include <commctrl.h>
#include <algorithm>

#include "window_classes.h"

namespace twplat {
namespace {

int Clamp(int value, int low, int high) { return std::max(low, std::min(value, high)); }

// Setting one end of the range pulls the position inside it.
void SetRangeEnd(HWND handle, bool minimum, int value) {
  ChangeWindow(handle, WindowChange::kRange, [&](Window& slider) {
    (minimum ? slider.state.rangeMin : slider.state.rangeMax) = value;
    if (slider.state.position < slider.state.rangeMin) {
      slider.state.position = slider.state.rangeMin;
    }
    if (slider.state.position > slider.state.rangeMax) {
      slider.state.position = slider.state.rangeMax;
    }
    return true;
  });
}

void SetPosition(HWND handle, int position) {
  ChangeWindow(handle, WindowChange::kPosition, [&](Window& slider) {
    int clamped = Clamp(position, slider.state.rangeMin, slider.state.rangeMax);
    if (clamped == slider.state.position) {
      return false;
    }
    slider.state.position = clamped;
    return true;
  });
}

LRESULT Read(HWND handle, UINT message) {
  LRESULT result = 0;
  WithWindow(handle, [&](Window& slider) {
    result = message == TBM_GETPOS        ? slider.state.position
             : message == TBM_GETRANGEMIN ? slider.state.rangeMin
                                          : slider.state.rangeMax;
  });
  return result;
}

// As at the end of a drag: the thumb's final position, then the end of the
// move.
void UserMoves(HWND handle, int position) {
  if (!AcceptsInput(handle)) {
    return;
  }
  SetPosition(handle, position);
  HWND parent = ParentOf(handle);
  int placed = static_cast<int>(Read(handle, TBM_GETPOS));
  LPARAM sender = reinterpret_cast<LPARAM>(handle);
  SendMessageA(parent, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, placed), sender);
  SendMessageA(parent, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), sender);
}

}  // namespace

LRESULT TrackbarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case TBM_SETRANGEMIN:
    case TBM_SETRANGEMAX:
      SetRangeEnd(window, message == TBM_SETRANGEMIN, static_cast<int>(lParam));
      return 0;
    case TBM_SETPOS:
      SetPosition(window, static_cast<int>(lParam));
      return 0;
    case TBM_GETPOS:
    case TBM_GETRANGEMIN:
    case TBM_GETRANGEMAX:
      return Read(window, message);
    case TBM_SETTICFREQ:  // no tick marks are drawn (TBS_NOTICKS)
      return 0;
    case kInputMoveSlider:
      UserMoves(window, static_cast<int>(wParam));
      return 0;
    default: {
      LRESULT result = 0;
      HandleTextMessage(window, message, wParam, lParam, &result);
      return result;
    }
  }
}

}  // namespace twplat
