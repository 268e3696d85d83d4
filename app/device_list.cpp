#include "app/device_list.h"

#include <cstring>
#include <new>

#include "res/resource.h"

namespace {

// Every GUID copy ever handed to the list. Entries are discarded when the
// list is emptied, the copies are not: a worker may hold one for its whole
// run. Reachable from here until the process ends.
struct GuidCopy {
  GUID guid;
  GuidCopy* next;
};
GuidCopy* guidCopies = nullptr;

LPGUID KeepCopy(const GUID& guid) {
  GuidCopy* copy = new (std::nothrow) GuidCopy{guid, guidCopies};
  if (copy == nullptr) {
    return nullptr;
  }
  guidCopies = copy;
  return &copy->guid;
}

// Case-sensitive on purpose: "Virtual" and "virtual" match, "VIRTUAL" does not.
bool LooksVirtual(LPCSTR description) { return std::strstr(description, "irtual") != nullptr; }

}  // namespace

BOOL CALLBACK AddDeviceEntry(LPGUID guid, LPCSTR description, LPCSTR, LPVOID context) {
  HWND list = static_cast<HWND>(context);
  if (description == nullptr) {
    description = "";
  }
  LRESULT index = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(description));
  if (index < 0) {
    return TRUE;  // not listed (CB_ERR, CB_ERRSPACE): nothing to select or tag
  }
  LPGUID identifier = nullptr;
  if (guid != nullptr) {
    identifier = KeepCopy(*guid);
    if (identifier == nullptr) {
      return FALSE;
    }
  } else {
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  if (LooksVirtual(description)) {
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(identifier));
  return TRUE;
}

LPGUID SelectedDeviceId(HWND window) {
  HWND list = GetDlgItem(window, IDC_DEVICE_LIST);
  LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) {
    return nullptr;
  }
  LRESULT data = SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
  if (data == CB_ERR) {
    return nullptr;
  }
  return reinterpret_cast<LPGUID>(data);
}
