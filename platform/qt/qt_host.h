// The desktop host: shows the window system's dialogs and message boxes as
// Qt 6 widgets and feeds the user's input back to the window system.
//
// Thread contract: construct and destroy it on Qt's thread (the thread that
// made the QApplication), which is also the program's user-interface thread.
// The window system calls it on any thread; everything it learns is queued,
// in order, to Qt's thread as a snapshot. Destroy it only when no other
// thread can still change a window or open a box.
#pragma once

#include <QObject>

#include "platform/qt/message_box_views.h"
#include "platform/qt/window_views.h"
#include "platform/win32/host.h"

namespace twqt {

class QtHost : public twplat::Host {
 public:
  // Installs itself as the process's host.
  QtHost();
  // Puts the headless host back.
  ~QtHost() override;
  QtHost(const QtHost&) = delete;
  QtHost& operator=(const QtHost&) = delete;

  void WindowCreated(const twplat::WindowDescription& window,
                     const twplat::WindowState& state) override;
  void WindowChanged(HWND window, twplat::WindowChange what,
                     const twplat::WindowState& state) override;
  void WindowDestroyed(HWND window) override;
  void MessageBoxOpened(const std::shared_ptr<twplat::MessageBoxRecord>& box) override;
  void MessageBoxClosed(const std::shared_ptr<twplat::MessageBoxRecord>& box) override;
  // On Qt's thread, Qt's event loop runs while the window system waits.
  int WaitIdle(const int* fds, int count, DWORD timeoutMs) override;

  // Qt's thread only: the widget that shows a window, or null.
  QWidget* WidgetOf(HWND window) const { return windows_.WidgetOf(window); }

 private:
  template <class Work>
  void Post(Work work);

  WindowViews windows_;
  MessageBoxViews boxes_;
  // Declared last, so it goes first: work still queued for it is dropped
  // before the views go.
  QObject receiver_;
};

}  // namespace twqt
