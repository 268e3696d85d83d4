// The user-interface thread's idle wait on the desktop: Qt's events are
// handled while it waits, and another thread ends it through a descriptor.
#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QTimer>

#include <chrono>
#include <thread>

#include "platform/qt/qt_host.h"

namespace twqt {
namespace {

class EventFd {
 public:
  EventFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~EventFd() { close(fd_); }
  EventFd(const EventFd&) = delete;
  EventFd& operator=(const EventFd&) = delete;
  int fd() const { return fd_; }
  void Signal() const {
    uint64_t one = 1;
    EXPECT_EQ(write(fd_, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  }

 private:
  int fd_;
};

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(EventLoopWaitTest, AnotherThreadEndsTheWaitWhileQtEventsRun) {
  QtHost host;
  EventFd quiet;
  EventFd woken;
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(5);
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    woken.Signal();
  });
  const int fds[] = {quiet.fd(), woken.fd()};
  const int ready = host.WaitIdle(fds, 2, INFINITE);
  waker.join();
  EXPECT_EQ(ready, 1);
  EXPECT_GT(ticks, 0) << "Qt's timers ran during the wait";
}

TEST(EventLoopWaitTest, TimesOutWithMinusOne) {
  QtHost host;
  EventFd quiet;
  const int fd = quiet.fd();
  const auto start = Clock::now();
  EXPECT_EQ(host.WaitIdle(&fd, 1, 50), -1);
  const long long waited = MsSince(start);
  EXPECT_GE(waited, 45);
  EXPECT_LT(waited, 500);
}

// A thread other than Qt's waits without Qt's event loop, on the same terms.
TEST(EventLoopWaitTest, OffQtsThreadTheWaitStillEndsOnTheDescriptor) {
  QtHost host;
  EventFd woken;
  int ready = -3;
  std::thread waiter([&] {
    const int fd = woken.fd();
    ready = host.WaitIdle(&fd, 1, 5000);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  woken.Signal();
  waiter.join();
  EXPECT_EQ(ready, 0);
}

}  // namespace
}  // namespace twqt
