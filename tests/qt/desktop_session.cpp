#include "tests/qt/desktop_session.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "app/entry.h"
#include "core/app_state.h"
#include "platform/qt/dialog_view.h"
#include "platform/win32/input.h"
#include "platform/win32/kernel_object.h"
#include "tests/support/config_home.h"
#include "tests/support/fresh_app_state.h"
#include "tests/support/test_host.h"

namespace twtest {
namespace {

constexpr int kTickMs = 5;
// Each close is input, which restarts a Stop's 3000 ms wait: one a second
// lets a "Timed out" box come and be answered.
constexpr unsigned long long kCloseIntervalMs = 1000;

void WaitForWorker() {
  HANDLE worker = appState.workerThread;
  if (worker != nullptr) {
    EXPECT_EQ(WaitForSingleObject(worker, kStepTimeoutMs), WAIT_OBJECT_0)
        << "the run's worker did not end";
  }
}

}  // namespace

DesktopSession& DesktopSession::Await(std::string what, std::function<bool()> condition) {
  steps_.push_back({std::move(what), std::move(condition), [] {}});
  return *this;
}

DesktopSession& DesktopSession::Then(std::function<void()> action) {
  steps_.push_back({"", [] { return true; }, std::move(action)});
  return *this;
}

DesktopSession& DesktopSession::Await(std::string what, std::function<bool()> condition,
                                      std::function<void()> action) {
  steps_.push_back({std::move(what), std::move(condition), std::move(action)});
  return *this;
}

void DesktopSession::Run() {
  ResetAppState();
  UseFreshConfigHome();  // the window keeps settings: each session starts from none
  QTimer ticker;
  ticker.setInterval(kTickMs);
  QObject::connect(&ticker, &QTimer::timeout, [this] { Tick(); });
  ticker.start();
  stepStartedMs_ = twplat::MonotonicMs();
  EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
  ticker.stop();
  // The program's quit request stays queued on this thread, which the next
  // session's program uses too.
  DrainMessages();
  endedByProgram_ = !closing_;
  if (next_ < steps_.size()) {
    ADD_FAILURE() << "the program ended before this step: " << steps_[next_].what;
  }
  WaitForWorker();
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void DesktopSession::Tick() {
  if (ticking_) {
    return;
  }
  ticking_ = true;
  const unsigned long long now = twplat::MonotonicMs();
  if (closing_) {
    if (now - lastCloseMs_ >= kCloseIntervalMs) {
      lastCloseMs_ = now;
      CloseEverything();
    }
  } else if (next_ == steps_.size()) {
    closing_ = true;
  } else if (steps_[next_].condition()) {
    std::function<void()> action = steps_[next_].action;
    ++next_;
    action();
    stepStartedMs_ = twplat::MonotonicMs();
  } else if (now - stepStartedMs_ > static_cast<unsigned long long>(kStepTimeoutMs)) {
    ADD_FAILURE() << "timed out waiting for: " << steps_[next_].what;
    closing_ = true;
  }
  ticking_ = false;
}

// Boxes answered, dialogs other than the main window left with Escape, then
// the main window's close box.
void DesktopSession::CloseEverything() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible()) {
      continue;
    }
    if (auto* box = qobject_cast<QMessageBox*>(window)) {
      box->done(0);
    } else if (auto* dialog = dynamic_cast<twqt::DialogView*>(window)) {
      if (dialog->handle() != appState.mainWindow.load()) {
        twplat::PressKey(dialog->handle(), VK_ESCAPE);
      }
    }
  }
  HWND main = appState.mainWindow.load();
  if (main != nullptr) {
    twplat::CloseWindow(main);
  }
}

}  // namespace twtest
