// The program's resources as data: dialog templates (the fields of an
// extended dialog template) and icons, defined once (dialogs.cpp). The
// Windows build writes its resource script from this table; on Linux the
// window system reads it, as Windows reads a module's resource section.
// Needs nothing but the Win32 headers.
#pragma once

#include <windows.h>

#include <span>

namespace twres {

struct DialogFont {
  const char* face;
  WORD pointSize;
  WORD weight;
  bool italic;
  BYTE charset;
};

// One control of a dialog template. Positions and sizes are in dialog units,
// relative to the dialog's client area.
struct ControlTemplate {
  int id;                 // -1: a control without an identifier
  const char* className;  // "BUTTON", "EDIT", "STATIC", "COMBOBOX", or a common control
  const char* text;       // null: no text
  WORD iconId;            // SS_ICON: the icon named by the template instead of a text; else 0
  short x;
  short y;
  short cx;
  short cy;
  DWORD style;  // WS_CHILD and WS_VISIBLE included, as the template stores them
  DWORD exStyle;
  DWORD helpId;
};

struct DialogTemplate {
  WORD id;
  const char* caption;
  DWORD style;
  DWORD exStyle;
  short x;
  short y;
  short cx;
  short cy;
  DialogFont font;
  std::span<const ControlTemplate> controls;  // template order, which is also the tab order
};

// An icon: its number, and the name of its artwork (res/icons/NAME-16.png,
// -32 and -48, and NAME.svg), which the desktop host shows.
struct IconResource {
  WORD id;
  const char* artwork = nullptr;
};

struct ResourceTable {
  std::span<const DialogTemplate> dialogs;
  std::span<const IconResource> icons;
};

const ResourceTable& ProgramResources();

}  // namespace twres
