#include "platform/qt/qt_host.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include "platform/qt/event_loop_wait.h"

namespace twqt {

QtHost::QtHost() : boxes_([this](HWND owner) { return windows_.TopLevelOf(owner); }) {
  twplat::SetHost(this);
}

QtHost::~QtHost() {
  twplat::SetHost(nullptr);
  // Widgets whose deletion is still queued go now.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Queued work runs in the order it was posted: the window system makes its
// notifications one at a time, so Qt sees the changes in the order they
// were made.
template <class Work>
void QtHost::Post(Work work) {
  QMetaObject::invokeMethod(&receiver_, std::move(work), Qt::QueuedConnection);
}

void QtHost::WindowCreated(const twplat::WindowDescription& window,
                           const twplat::WindowState& state) {
  Post([this, window, state] { windows_.Created(window, state); });
}

void QtHost::WindowChanged(HWND window, twplat::WindowChange what,
                           const twplat::WindowState& state) {
  Post([this, window, what, state] { windows_.Changed(window, what, state); });
}

void QtHost::WindowDestroyed(HWND window) {
  Post([this, window] { windows_.Destroyed(window); });
}

void QtHost::MessageBoxOpened(const std::shared_ptr<twplat::MessageBoxRecord>& box) {
  Post([this, box] { boxes_.Open(box); });
}

void QtHost::MessageBoxClosed(const std::shared_ptr<twplat::MessageBoxRecord>& box) {
  Post([this, box] { boxes_.Closed(box.get()); });
}

int QtHost::WaitIdle(const int* fds, int count, DWORD timeoutMs) {
  if (QThread::currentThread() != receiver_.thread()) {
    return Host::WaitIdle(fds, count, timeoutMs);
  }
  return RunEventLoopUntilReadable(fds, count, timeoutMs);
}

}  // namespace twqt
