// One control of a dialog shown as a Qt widget, on Qt's thread. It shows the
// state the window system reports, and turns the user's input into the
// window system's input (platform/win32/input.h). Where the window system
// refuses the input (a disabled control, a dialog disabled under a modal
// one), the widget goes back to the state last reported.
#pragma once

#include <windows.h>

#include <QPointer>
#include <QWidget>

#include <memory>

#include "platform/qt/dialog_units.h"
#include "platform/win32/host.h"

namespace twqt {

class ControlView {
 public:
  virtual ~ControlView() = default;
  ControlView(const ControlView&) = delete;
  ControlView& operator=(const ControlView&) = delete;

  HWND handle() const { return handle_; }
  // Null once Qt has deleted the widget (with its dialog).
  QWidget* widget() const { return widget_; }

  // The window system's state after a change; the widget's own signals are
  // blocked while it takes the state, so showing it sends no input back.
  void Show(const twplat::WindowState& state);

 protected:
  ControlView(HWND handle, QWidget* widget) : handle_(handle), widget_(widget) {}

  virtual void ShowState(const twplat::WindowState& state) = 0;
  // Shows the last reported state again.
  void Revert();
  // The context of the view's signal connections: they end with the view,
  // even while Qt still holds the widget.
  QObject* context() { return &context_; }

 private:
  QObject context_;
  HWND handle_;
  QPointer<QWidget> widget_;
  twplat::WindowState state_;
};

// The view of one control, its widget a child of dialog, placed in dialog
// units. Null for a class the desktop does not show.
std::unique_ptr<ControlView> MakeControlView(const twplat::WindowDescription& control,
                                             const twplat::WindowState& state,
                                             const DialogUnits& units, QWidget* dialog);

}  // namespace twqt
