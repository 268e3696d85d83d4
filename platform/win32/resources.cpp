// Looking up the program's resources: dialog templates and icons.
#include "resources.h"

namespace twplat {

const DialogTemplate* FindDialogTemplate(WORD id) {
  for (const DialogTemplate& dialog : ProgramResources().dialogs) {
    if (dialog.id == id) {
      return &dialog;
    }
  }
  return nullptr;
}

// An icon handle is the address of the icon's entry in the resource table:
// it stays valid for the whole process, like a shared icon on Windows.
const IconResource* IconFromHandle(HICON icon) {
  for (const IconResource& entry : ProgramResources().icons) {
    if (reinterpret_cast<const void*>(&entry) == reinterpret_cast<const void*>(icon)) {
      return &entry;
    }
  }
  return nullptr;
}

}  // namespace twplat

// The instance is not looked at: the program is the only module.
HICON WINAPI LoadIconA(HINSTANCE, LPCSTR name) {
  if (IS_INTRESOURCE(name)) {
    WORD id = LOWORD(reinterpret_cast<ULONG_PTR>(name));
    for (const twplat::IconResource& entry : twplat::ProgramResources().icons) {
      if (entry.id == id) {
        return reinterpret_cast<HICON>(const_cast<twplat::IconResource*>(&entry));
      }
    }
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}
