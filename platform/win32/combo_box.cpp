// COMBOBOX: a drop-down list under an editable text field. With CBS_SORT the
// entries stand in case-insensitive order (bytes compared after ASCII
// lower-casing; an entry equal to an existing one goes after it), and the
// chosen entry stays chosen when others are inserted before it. Typing into
// the field drops the choice, as the field no longer shows an entry.
#include <algorithm>
#include <cctype>

#include "window_classes.h"

namespace twplat {
namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool ValidIndex(const Window& combo, WPARAM index) { return index < combo.state.items.size(); }

LRESULT AddString(HWND handle, const char* text) {
  std::string entry = text != nullptr ? text : "";
  LRESULT index = CB_ERR;
  ChangeWindow(handle, WindowChange::kItems, [&](Window& combo) {
    auto& items = combo.state.items;
    auto place = items.end();
    if ((combo.description.style & CBS_SORT) != 0) {
      place = std::upper_bound(items.begin(), items.end(), entry, LessIgnoringCase);
    }
    index = place - items.begin();
    items.insert(place, entry);
    combo.itemData.insert(combo.itemData.begin() + index, 0);
    if (combo.state.selection >= index) {
      ++combo.state.selection;
    }
    return true;
  });
  return index;
}

// Selects an entry (its text goes into the field), or clears the choice and
// the field for -1 and any index out of range.
LRESULT SetSelection(HWND handle, WPARAM index) {
  LRESULT result = CB_ERR;
  ChangeWindow(handle, WindowChange::kSelection, [&](Window& combo) {
    if (ValidIndex(combo, index)) {
      combo.state.selection = static_cast<int>(index);
      combo.state.text = combo.state.items[index];
      result = static_cast<LRESULT>(index);
    } else {
      combo.state.selection = -1;
      combo.state.text.clear();
    }
    combo.selectAll = false;
    return true;
  });
  return result;
}

void ResetContent(HWND handle) {
  ChangeWindow(handle, WindowChange::kItems, [&](Window& combo) {
    combo.state.items.clear();
    combo.itemData.clear();
    combo.state.selection = -1;
    combo.state.text.clear();
    return true;
  });
}

void Type(HWND handle, char typed) {
  bool changed = false;
  ChangeWindow(handle, WindowChange::kText, [&](Window& combo) {
    changed = ApplyTypedCharacter(&combo.state.text, &combo.selectAll, typed);
    if (changed) {
      combo.state.selection = -1;
    }
    return changed;
  });
  if (changed) {
    NotifyParent(handle, CBN_EDITCHANGE);
  }
}

void UserSelects(HWND handle, WPARAM index) {
  bool valid = false;
  WithWindow(handle, [&](Window& combo) { valid = ValidIndex(combo, index); });
  if (valid && AcceptsInput(handle)) {
    SetSelection(handle, index);
    NotifyParent(handle, CBN_SELCHANGE);
  }
}

LRESULT ReadItem(HWND handle, UINT message, WPARAM index, LPARAM lParam) {
  LRESULT result = CB_ERR;
  WithWindow(handle, [&](Window& combo) {
    if (message == CB_GETCOUNT) {
      result = static_cast<LRESULT>(combo.state.items.size());
    } else if (message == CB_GETCURSEL) {
      result = combo.state.selection;
    } else if (!ValidIndex(combo, index)) {
      result = CB_ERR;
    } else if (message == CB_GETITEMDATA) {
      result = combo.itemData[index];
    } else if (message == CB_SETITEMDATA) {
      combo.itemData[index] = lParam;
      result = TRUE;
    } else if (message == CB_GETLBTEXTLEN) {
      result = static_cast<LRESULT>(combo.state.items[index].size());
    } else if (message == CB_GETLBTEXT && lParam != 0) {
      const std::string& text = combo.state.items[index];
      char* buffer = reinterpret_cast<char*>(lParam);
      text.copy(buffer, text.size());
      buffer[text.size()] = '\0';
      result = static_cast<LRESULT>(text.size());
    }
  });
  return result;
}

}  // namespace

LRESULT ComboBoxProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (HandleTextMessage(window, message, wParam, lParam, &result)) {
    return result;
  }
  switch (message) {
    case CB_ADDSTRING:
      return AddString(window, reinterpret_cast<const char*>(lParam));
    case CB_SETCURSEL:
      return SetSelection(window, wParam);
    case CB_RESETCONTENT:
      ResetContent(window);
      return CB_OKAY;
    case CB_GETCOUNT:
    case CB_GETCURSEL:
    case CB_GETITEMDATA:
    case CB_SETITEMDATA:
    case CB_GETLBTEXT:
    case CB_GETLBTEXTLEN:
      return ReadItem(window, message, wParam, lParam);
    case WM_CHAR:
      if (AcceptsInput(window)) {
        Type(window, static_cast<char>(wParam));
      }
      return 0;
    case CB_SETEDITSEL:
      // Only "select everything" (0 to -1) is kept, as for the edit field.
      WithWindow(window, [&](Window& combo) {
        combo.selectAll = LOWORD(lParam) == 0 && HIWORD(lParam) == 0xFFFF;
      });
      return TRUE;
    case kInputSelectItem:
      UserSelects(window, wParam);
      return 0;
    default:
      return 0;
  }
}

}  // namespace twplat
