// A dialog shown as a top-level Qt window, on Qt's thread: fixed size from
// its template in dialog units, caption, icon, a minimize box when the
// template asks for one and never a maximize box. An owned dialog is modal to
// its owner and opens at its template position from the owner's client area;
// one without owner at its template position on the screen.
//
// The close box (and Alt+F4) becomes WM_CLOSE, Enter and Escape the dialog's
// keys: the window system decides what they do, and destroys the window
// when the program says so. Tab, the arrow keys in a radio group and the
// names of fields for assistive technology: keyboard_access.h.
#pragma once

#include <windows.h>

#include <QFont>
#include <QWidget>

#include "platform/qt/dialog_units.h"
#include "platform/qt/keyboard_access.h"
#include "platform/win32/host.h"

namespace twqt {

class DialogView : public QWidget {
 public:
  // owner: the owner dialog's window, or null.
  DialogView(const twplat::WindowDescription& dialog, QWidget* owner);

  HWND handle() const { return handle_; }
  const DialogUnits& units() const { return units_; }

  // Caption, icon and visibility from the window system's state.
  void ShowState(const twplat::WindowState& state);
  // Routes a control's Enter and Escape to the dialog, and its Tab and
  // arrow keys through the dialog's keyboard access; in template order.
  void AdoptControl(QWidget* control, const twplat::WindowDescription& description);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  DialogView(const twplat::WindowDescription& dialog, QWidget* owner, const QFont& font);
  void PlaceOnFirstShow();

  HWND handle_;
  QPoint templatePosition_;
  DialogUnits units_;
  bool placed_ = false;
  KeyboardAccess keyboard_;
};

}  // namespace twqt
