// Dialog controls addressed by identifier.
#include <cctype>
#include <climits>
#include <cstdio>
#include <string>

#include "window_classes.h"

namespace {

// Windows' rule for a number in a field: leading and trailing blanks, an
// optional minus sign when signed, at least one digit, nothing else, and a
// value that fits. Anything else is not a number.
bool ParseNumber(const char* text, bool isSigned, long long* value) {
  while (*text == ' ') {
    ++text;
  }
  bool negative = isSigned && *text == '-';
  if (negative) {
    ++text;
  }
  if (!std::isdigit(static_cast<unsigned char>(*text))) {
    return false;
  }
  long long magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > 0xFFFFFFFFLL) {
      return false;
    }
  }
  while (*text == ' ') {
    ++text;
  }
  if (*text != '\0') {
    return false;
  }
  *value = negative ? -magnitude : magnitude;
  if (isSigned) {
    return *value >= INT_MIN && *value <= INT_MAX;
  }
  return true;
}

HWND ItemOrError(HWND dialog, int id) {
  if (!IsWindow(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  HWND item = twplat::FindDialogItem(dialog, id);
  if (item == nullptr) {
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  }
  return item;
}

}  // namespace

HWND WINAPI GetDlgItem(HWND dialog, int id) { return ItemOrError(dialog, id); }

int WINAPI GetDlgCtrlID(HWND window) {
  int id = 0;
  twplat::WithWindow(window, [&](twplat::Window& found) { id = found.description.id; });
  return id;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND item = ItemOrError(dialog, id);
  return item != nullptr ? SetWindowTextA(item, text) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
  HWND item = ItemOrError(dialog, id);
  if (item == nullptr) {
    if (text != nullptr && size > 0) {
      text[0] = '\0';
    }
    return 0;
  }
  return static_cast<UINT>(GetWindowTextA(item, text, size));
}

BOOL WINAPI SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  char text[16];
  if (isSigned) {
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  } else {
    std::snprintf(text, sizeof text, "%u", value);
  }
  return SetDlgItemTextA(dialog, id, text);
}

UINT WINAPI GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  if (translated != nullptr) {
    *translated = FALSE;
  }
  HWND item = ItemOrError(dialog, id);
  if (item == nullptr) {
    return 0;
  }
  std::string text(static_cast<size_t>(SendMessageA(item, WM_GETTEXTLENGTH, 0, 0)) + 1, '\0');
  GetWindowTextA(item, text.data(), static_cast<int>(text.size()));
  long long value = 0;
  if (!ParseNumber(text.c_str(), isSigned != FALSE, &value)) {
    return 0;
  }
  if (translated != nullptr) {
    *translated = TRUE;
  }
  return static_cast<UINT>(value);
}

BOOL WINAPI CheckRadioButton(HWND dialog, int firstId, int lastId, int checkId) {
  if (!IsWindow(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  for (int id = firstId; id <= lastId; ++id) {
    if (HWND button = twplat::FindDialogItem(dialog, id)) {
      SendMessageA(button, BM_SETCHECK, id == checkId ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  }
  return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
  HWND button = ItemOrError(dialog, id);
  return button != nullptr ? static_cast<UINT>(SendMessageA(button, BM_GETCHECK, 0, 0)) : 0;
}
