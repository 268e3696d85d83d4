#include "platform/qt/event_loop_wait.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <vector>

namespace twqt {

int RunEventLoopUntilReadable(const int* fds, int count, DWORD timeoutMs) {
  if (count < 0 || (count > 0 && fds == nullptr)) {
    return -2;
  }
  QEventLoop loop;
  int readable = -1;
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
  for (int index = 0; index < count; ++index) {
    auto notifier = std::make_unique<QSocketNotifier>(fds[index], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &loop, [&loop, &readable, index] {
      if (readable < 0) {
        readable = index;
      }
      loop.quit();
    });
    notifiers.push_back(std::move(notifier));
  }
  QTimer deadline;
  if (timeoutMs != INFINITE) {
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(static_cast<int>(std::min<DWORD>(timeoutMs, 0x7FFFFFFF)));
  }
  loop.exec();
  return readable;
}

}  // namespace twqt
