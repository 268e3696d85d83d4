// Looking up the program's resources (res/resource_table.h) by number, as
// the window system does on Windows in a module's resource section.
#pragma once

#include <windows.h>

#include "res/resource_table.h"

namespace twplat {

using twres::ControlTemplate;
using twres::DialogFont;
using twres::DialogTemplate;
using twres::IconResource;
using twres::ProgramResources;
using twres::ResourceTable;

const DialogTemplate* FindDialogTemplate(WORD id);
// The icon behind a handle from LoadIconA, or null for any other value.
const IconResource* IconFromHandle(HICON icon);

}  // namespace twplat
