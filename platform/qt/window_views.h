// The desktop's picture of the window system, on Qt's thread: a DialogView
// for each dialog and a ControlView for each of its controls, made, changed
// and taken down as the window system reports.
#pragma once

#include <windows.h>

#include <QPointer>

#include <map>
#include <memory>

#include "platform/qt/control_view.h"
#include "platform/qt/dialog_view.h"
#include "platform/win32/host.h"

namespace twqt {

class WindowViews {
 public:
  WindowViews() = default;
  ~WindowViews();
  WindowViews(const WindowViews&) = delete;
  WindowViews& operator=(const WindowViews&) = delete;

  void Created(const twplat::WindowDescription& window, const twplat::WindowState& state);
  void Changed(HWND window, twplat::WindowChange what, const twplat::WindowState& state);
  void Destroyed(HWND window);

  // The widget that shows a window (a dialog's top-level window, a
  // control's widget), or null.
  QWidget* WidgetOf(HWND window) const;
  // The top-level window of a window's dialog, or null.
  QWidget* TopLevelOf(HWND window) const;

 private:
  void CreateDialog(const twplat::WindowDescription& dialog, const twplat::WindowState& state);
  void CreateControl(const twplat::WindowDescription& control, const twplat::WindowState& state);
  void ShowFocus(const twplat::WindowState& state);

  std::map<HWND, QPointer<DialogView>> dialogs_;
  std::map<HWND, std::unique_ptr<ControlView>> controls_;
};

}  // namespace twqt
