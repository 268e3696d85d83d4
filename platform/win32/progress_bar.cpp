// msctls_progress32: a range (0..100 until set) and a position kept inside it.
#include <commctrl.h>
#include <algorithm>

#include "window_classes.h"

namespace twplat {
namespace {

int Clamp(int value, int low, int high) { return std::max(low, std::min(value, high)); }

// Returns the previous range, low value in the low word, as Windows does.
LRESULT SetRange(HWND handle, int low, int high) {
  LRESULT previous = 0;
  ChangeWindow(handle, WindowChange::kRange, [&](Window& bar) {
    previous = MAKELONG(bar.state.rangeMin, bar.state.rangeMax);
    bar.state.rangeMin = low;
    bar.state.rangeMax = high;
    bar.state.position = Clamp(bar.state.position, low, high);
    return true;
  });
  return previous;
}

LRESULT SetPosition(HWND handle, int position) {
  LRESULT previous = 0;
  ChangeWindow(handle, WindowChange::kPosition, [&](Window& bar) {
    previous = bar.state.position;
    int clamped = Clamp(position, bar.state.rangeMin, bar.state.rangeMax);
    if (clamped == bar.state.position) {
      return false;
    }
    bar.state.position = clamped;
    return true;
  });
  return previous;
}

LRESULT GetRange(HWND handle, WPARAM wantLow, LPARAM range) {
  LRESULT result = 0;
  WithWindow(handle, [&](Window& bar) {
    if (range != 0) {
      auto* out = reinterpret_cast<PBRANGE*>(range);
      out->iLow = bar.state.rangeMin;
      out->iHigh = bar.state.rangeMax;
    }
    result = wantLow ? bar.state.rangeMin : bar.state.rangeMax;
  });
  return result;
}

}  // namespace

LRESULT ProgressBarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case PBM_SETRANGE:
      return SetRange(window, LOWORD(lParam), HIWORD(lParam));
    case PBM_SETRANGE32:
      return SetRange(window, static_cast<int>(wParam), static_cast<int>(lParam));
    case PBM_SETPOS:
      return SetPosition(window, static_cast<int>(wParam));
    case PBM_GETPOS: {
      LRESULT position = 0;
      WithWindow(window, [&](Window& bar) { position = bar.state.position; });
      return position;
    }
    case PBM_GETRANGE:
      return GetRange(window, wParam, lParam);
    default: {
      LRESULT result = 0;
      HandleTextMessage(window, message, wParam, lParam, &result);
      return result;
    }
  }
}

}  // namespace twplat
