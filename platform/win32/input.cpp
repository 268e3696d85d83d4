// User input from the host, queued on the window's thread.
#include "input.h"

#include "kernel_object.h"
#include "window_classes.h"

namespace twplat {
namespace {

struct Target {
  std::shared_ptr<MessageQueue> queue;
  WindowKind kind = WindowKind::kDesktop;
};

Target FindTarget(HWND window) {
  Target target;
  WithWindow(window, [&](Window& found) {
    target.queue = found.queue;
    target.kind = found.kind;
  });
  return target;
}

bool Queue(const Target& target, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
           DWORD inputBits) {
  MSG input{window, message, wParam, lParam, static_cast<DWORD>(MonotonicMs()), {0, 0}};
  return target.queue->Post(input, inputBits);
}

// The window, when it is of one of the kinds and a user can reach it.
bool Reachable(HWND window, const Target& target, std::initializer_list<WindowKind> kinds) {
  if (!target.queue) {
    return false;
  }
  for (WindowKind kind : kinds) {
    if (kind == target.kind) {
      return AcceptsInput(window);
    }
  }
  return false;
}

bool TypeCharacters(HWND field, const Target& target, const char* text) {
  for (; *text != '\0'; ++text) {
    if (!Queue(target, field, WM_CHAR, static_cast<unsigned char>(*text), 1, QS_KEY)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ClickButton(HWND button) {
  Target target = FindTarget(button);
  if (!Reachable(button, target, {WindowKind::kButton})) {
    return false;
  }
  return Queue(target, button, WM_LBUTTONDOWN, 0, 0, QS_MOUSEBUTTON) &&
         Queue(target, button, WM_LBUTTONUP, 0, 0, QS_MOUSEBUTTON);
}

bool TypeText(HWND field, const char* text) {
  Target target = FindTarget(field);
  if (text == nullptr || !Reachable(field, target, {WindowKind::kEdit, WindowKind::kComboBox})) {
    return false;
  }
  return TypeCharacters(field, target, text);
}

bool ReplaceText(HWND field, const char* text) {
  Target target = FindTarget(field);
  if (text == nullptr || !Reachable(field, target, {WindowKind::kEdit, WindowKind::kComboBox})) {
    return false;
  }
  bool selected = target.kind == WindowKind::kEdit
                      ? Queue(target, field, EM_SETSEL, 0, -1, QS_KEY)
                      : Queue(target, field, CB_SETEDITSEL, 0, MAKELPARAM(0, -1), QS_KEY);
  if (!selected) {
    return false;
  }
  // An empty replacement is a select-all followed by Backspace.
  return TypeCharacters(field, target, *text != '\0' ? text : "\b");
}

bool SelectComboItem(HWND comboBox, int index) {
  Target target = FindTarget(comboBox);
  if (index < 0 || !Reachable(comboBox, target, {WindowKind::kComboBox})) {
    return false;
  }
  return Queue(target, comboBox, kInputSelectItem, static_cast<WPARAM>(index), 0, QS_MOUSEBUTTON);
}

bool MoveSlider(HWND trackbar, int position) {
  Target target = FindTarget(trackbar);
  if (!Reachable(trackbar, target, {WindowKind::kTrackbar})) {
    return false;
  }
  return Queue(target, trackbar, kInputMoveSlider, static_cast<WPARAM>(position), 0,
               QS_MOUSEBUTTON);
}

// The key goes to the dialog's focused control (the dialog itself when that
// is disabled), as the keyboard would send it; the dialog's modal loop
// recognises it as the dialog's key.
bool PressKey(HWND dialog, int virtualKey) {
  Target target = FindTarget(dialog);
  if (!Reachable(dialog, target, {WindowKind::kDialog})) {
    return false;
  }
  HWND focus = nullptr;
  WithWindow(dialog, [&](Window& window) { focus = window.state.focus; });
  if (focus == nullptr || !AcceptsInput(focus)) {
    focus = dialog;
  }
  return Queue(target, focus, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1, QS_KEY);
}

bool CloseWindow(HWND dialog) {
  Target target = FindTarget(dialog);
  if (!Reachable(dialog, target, {WindowKind::kDialog})) {
    return false;
  }
  return Queue(target, dialog, WM_CLOSE, 0, 0, QS_MOUSEBUTTON);
}

}  // namespace twplat
