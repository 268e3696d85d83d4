// BUTTON: push buttons and automatic radio buttons.
#include <algorithm>

#include "window_classes.h"

namespace twplat {
namespace {

bool IsAutoRadio(const Window& window) {
  return window.kind == WindowKind::kButton &&
         (window.description.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

// The automatic radio buttons of the button's group: its siblings from the
// nearest one at or before it that starts a group (WS_GROUP) up to the next
// one that starts a group.
std::vector<HWND> RadioGroupOf(HWND button) {
  std::vector<HWND> group;
  std::lock_guard<std::mutex> lock(WindowLock());
  Window* window = FindWindowLocked(button);
  Window* parent = window != nullptr ? FindWindowLocked(window->description.parent) : nullptr;
  if (parent == nullptr) {
    return group;
  }
  const std::vector<HWND>& siblings = parent->children;
  auto startsGroup = [&](size_t index) {
    Window* sibling = FindWindowLocked(siblings[index]);
    return sibling != nullptr && (sibling->description.style & WS_GROUP) != 0;
  };
  size_t index = std::find(siblings.begin(), siblings.end(), button) - siblings.begin();
  size_t first = index;
  while (first > 0 && first < siblings.size() && !startsGroup(first)) {
    --first;
  }
  for (size_t i = first; i < siblings.size(); ++i) {
    if (i > first && startsGroup(i)) {
      break;
    }
    Window* sibling = FindWindowLocked(siblings[i]);
    if (sibling != nullptr && IsAutoRadio(*sibling)) {
      group.push_back(siblings[i]);
    }
  }
  return group;
}

void SetCheck(HWND button, int check) {
  ChangeWindow(button, WindowChange::kCheck, [&](Window& window) {
    if (window.state.check == check) {
      return false;
    }
    window.state.check = check;
    return true;
  });
}

// An automatic radio button takes the check from the rest of its group
// before the dialog hears of the click, so the dialog reads the new choice.
void Click(HWND button) {
  bool autoRadio = false;
  WithWindow(button, [&](Window& window) { autoRadio = IsAutoRadio(window); });
  if (autoRadio) {
    for (HWND member : RadioGroupOf(button)) {
      SetCheck(member, member == button ? BST_CHECKED : BST_UNCHECKED);
    }
  }
  NotifyParent(button, BN_CLICKED);
}

}  // namespace

LRESULT ButtonProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (HandleTextMessage(window, message, wParam, lParam, &result)) {
    return result;
  }
  switch (message) {
    case BM_GETCHECK:
      WithWindow(window, [&](Window& button) { result = button.state.check; });
      return result;
    case BM_SETCHECK:
      SetCheck(window, wParam == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED);
      return 0;
    case BM_CLICK:
    case WM_LBUTTONUP:
      if (AcceptsInput(window)) {
        Click(window);
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace twplat
