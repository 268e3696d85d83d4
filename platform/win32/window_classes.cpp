// Class lookup and the dispatch of a message to its window's procedure.
#include "window_classes.h"

#include <strings.h>

namespace twplat {

bool KindOfClass(const char* className, WindowKind* kind) {
  static const struct {
    const char* name;
    WindowKind kind;
  } kClasses[] = {
      {"BUTTON", WindowKind::kButton},
      {"EDIT", WindowKind::kEdit},
      {"STATIC", WindowKind::kStatic},
      {"COMBOBOX", WindowKind::kComboBox},
      {"msctls_progress32", WindowKind::kProgressBar},
      {"msctls_trackbar32", WindowKind::kTrackbar},
  };
  if (className == nullptr) {
    return false;
  }
  for (const auto& entry : kClasses) {
    if (::strcasecmp(entry.name, className) == 0) {
      *kind = entry.kind;
      return true;
    }
  }
  return false;
}

LRESULT CallWindowProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowKind kind = WindowKind::kDesktop;
  if (!WithWindow(handle, [&](Window& window) { kind = window.kind; })) {
    return 0;
  }
  switch (kind) {
    case WindowKind::kDialog:
      return DialogProcedure(handle, message, wParam, lParam);
    case WindowKind::kButton:
      return ButtonProcedure(handle, message, wParam, lParam);
    case WindowKind::kEdit:
      return EditProcedure(handle, message, wParam, lParam);
    case WindowKind::kStatic:
      return StaticProcedure(handle, message, wParam, lParam);
    case WindowKind::kComboBox:
      return ComboBoxProcedure(handle, message, wParam, lParam);
    case WindowKind::kProgressBar:
      return ProgressBarProcedure(handle, message, wParam, lParam);
    case WindowKind::kTrackbar:
      return TrackbarProcedure(handle, message, wParam, lParam);
    case WindowKind::kDesktop:
      break;
  }
  return 0;
}

bool ApplyTypedCharacter(std::string* text, bool* selectAll, char typed) {
  if (typed == '\b') {
    if (*selectAll) {
      text->clear();
    } else if (!text->empty()) {
      text->pop_back();
    } else {
      return false;
    }
    *selectAll = false;
    return true;
  }
  if (static_cast<unsigned char>(typed) < 0x20) {
    return false;
  }
  if (*selectAll) {
    text->clear();
    *selectAll = false;
  }
  text->push_back(typed);
  return true;
}

HWND DefaultPushButton(HWND dialog) {
  return FirstChildWhere(dialog, [](const Window& control) {
    return control.kind == WindowKind::kButton &&
           (control.description.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  });
}

}  // namespace twplat
