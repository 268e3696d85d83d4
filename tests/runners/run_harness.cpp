#include "tests/runners/run_harness.h"

#include <chrono>
#include <cstdlib>

#include "core/app_state.h"
#include "net/sockets.h"
#include "res/resource.h"

namespace twtest {
namespace {

constexpr int kRunBeginTimeoutMs = 5000;
constexpr int kWorkerEndTimeoutMs = 10000;

// Before any test thread starts: the runners open the default devices,
// which are then the built-in ones on every machine.
const bool kBuiltinDevicesOnly = setenv("TONEWIRE_AUDIO", "builtin", 1) == 0;

RunHarness* activeHarness = nullptr;  // the one window's owner; set before it opens

}  // namespace

RunHarness::RunHarness() {
  (void)kBuiltinDevicesOnly;
  StartWinsockOnce();  // as every Start does before it makes the worker
  activeHarness = this;
  appState.statusLine.store(nullptr);
  appState.bufferMeter.store(nullptr);
  appState.runState.store(kRunIdle);
  appState.stopRequested.store(0);
  uiThread_ = std::thread([this] { RunWindow(); });
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return windowReady_; });
}

RunHarness::~RunHarness() {
  if (worker_ != nullptr) {
    RequestStop();
    HoldBoxes(false);
    WaitForWorkerEnd(kWorkerEndTimeoutMs);
    CloseHandle(worker_);
  }
  HWND dialog = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dialog = dialog_;
  }
  if (dialog != nullptr) {
    EndDialog(dialog, 0);
  }
  uiThread_.join();
  appState.mainWindow.store(nullptr);
  appState.statusLine.store(nullptr);
  appState.bufferMeter.store(nullptr);
  appState.stalledPeerMs.store(kStalledPeerMs);
  activeHarness = nullptr;
}

void RunHarness::SetStallLimit(int ms) { appState.stalledPeerMs.store(ms); }

void RunHarness::RunWindow() {
  const INT_PTR result =
      DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_MAIN), nullptr, &RunHarness::DialogProc, 0);
  if (result == -1) {
    // No window: let the constructor return; the tests then fail on texts.
    std::lock_guard<std::mutex> lock(mutex_);
    windowReady_ = true;
    changed_.notify_all();
  }
}

INT_PTR CALLBACK RunHarness::DialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  RunHarness* self = activeHarness;
  if (message == WM_INITDIALOG) {
    HWND statusLine = GetDlgItem(dialog, IDC_STATUS);
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->dialog_ = dialog;
      self->statusLine_ = statusLine;
      self->windowReady_ = true;
    }
    appState.mainWindow.store(dialog);
    appState.bufferMeter.store(GetDlgItem(dialog, IDC_BUFFER_METER));  // as a Start takes it
    self->changed_.notify_all();
    return TRUE;
  }
  if (message == WM_RUN_FINISHED) {
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      ++self->finished_;
    }
    self->changed_.notify_all();
    return TRUE;
  }
  return FALSE;
}

void RunHarness::WindowChanged(HWND window, twplat::WindowChange what,
                               const twplat::WindowState& state) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (what != twplat::WindowChange::kText || window != statusLine_ || window == nullptr) {
      return;
    }
    statusTexts_.push_back(state.text);
  }
  changed_.notify_all();
}

bool RunHarness::StartWorker(LPTHREAD_START_ROUTINE procedure) {
  appState.runState.store(kRunIdle);
  DWORD threadId = 0;
  worker_ = CreateThread(nullptr, 0, procedure, nullptr, 0, &threadId);
  if (worker_ == nullptr) {
    return false;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunBeginTimeoutMs);
  while (appState.runState.load() == kRunIdle) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void RunHarness::RequestStop() { appState.stopRequested.store(1); }

bool RunHarness::WaitForWorkerEnd(int timeoutMs) {
  return worker_ != nullptr &&
         WaitForSingleObject(worker_, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

bool RunHarness::WorkerEnded() { return WaitForWorkerEnd(0); }

std::vector<std::string> RunHarness::StatusTexts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return statusTexts_;
}

std::vector<std::string> RunHarness::StatusTextsBesidesWaiting() const {
  std::vector<std::string> texts;
  for (const std::string& text : StatusTexts()) {
    if (text != "Wait for incoming...") {
      texts.push_back(text);
    }
  }
  return texts;
}

void RunHarness::ForgetStatusTexts() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string>().swap(statusTexts_);
}

size_t RunHarness::StatusCount(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t count = 0;
  for (const std::string& shown : statusTexts_) {
    count += shown == text ? 1 : 0;
  }
  return count;
}

bool RunHarness::WaitForStatus(const std::string& text, int timeoutMs, size_t count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    size_t seen = 0;
    for (const std::string& shown : statusTexts_) {
      seen += shown == text ? 1 : 0;
    }
    return seen >= count;
  });
}

int RunHarness::FinishedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool RunHarness::WaitForFinishedCount(int count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return finished_ >= count; });
}

bool RunHarness::ClientInfoEnabled() const {
  HWND dialog = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dialog = dialog_;
  }
  return IsWindowEnabled(GetDlgItem(dialog, IDC_CLIENT_INFO)) != FALSE;
}

}  // namespace twtest
