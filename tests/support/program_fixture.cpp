#include "tests/support/program_fixture.h"

#include <chrono>
#include <cstdlib>

#include "app/entry.h"
#include "core/app_state.h"
#include "tests/support/config_home.h"
#include "tests/support/fresh_app_state.h"
#include "tests/support/loopback_peer.h"

namespace twtest {
namespace {

// Before any thread starts: the same two devices on every machine.
const bool kBuiltinDevicesOnly = setenv("TONEWIRE_AUDIO", "builtin", 1) == 0;

}  // namespace

bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void ProgramTest::SetUp() {
  ASSERT_TRUE(kBuiltinDevicesOnly);
  // The window keeps its settings; each test starts from none.
  ASSERT_FALSE(UseFreshConfigHome().empty());
  StartProgram();
}

void ProgramTest::StartProgram() {
  ResetAppState();
  programEnded_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ui_ = std::thread([this] {
    WinMain(nullptr, nullptr, nullptr, 0);
    SetEvent(programEnded_);
  });
  window_ = host_.WaitForDialog("Audio streamer", kWaitMs);
  ASSERT_NE(window_, nullptr);
}

// Whatever a test left open: boxes answered, the window closed, the worker
// waited for, so that the next test starts without it.
void ProgramTest::TearDown() {
  CloseProgram();
  EXPECT_TRUE(WorkerEnded(kWaitMs));
}

void ProgramTest::CloseProgram() {
  if (programEnded_ == nullptr) {
    return;
  }
  // Each close is input that restarts a Stop's 3000 ms wait: one a second.
  while (WaitForSingleObject(programEnded_, 0) != WAIT_OBJECT_0) {
    host_.HoldBoxes(false);
    TestHost::Close(window_);
    WaitForSingleObject(programEnded_, 1000);
  }
  ui_.join();
  CloseHandle(programEnded_);
  programEnded_ = nullptr;
}

twplat::WindowState ProgramTest::StateOf(int id) const {
  return host_.State(Item(id)).value_or(twplat::WindowState{});
}

bool ProgramTest::WaitStatus(const std::string& text) const {
  return host_.WaitForText(Item(IDC_STATUS), text, kWaitMs);
}

bool ProgramTest::WaitEnabled(int id, bool enabled) const {
  return host_.WaitForState(
      Item(id), [&](const twplat::WindowState& state) { return state.enabled == enabled; },
      kWaitMs);
}

void ProgramTest::ChooseServer() {
  ASSERT_TRUE(Click(IDC_SERVER));
  ASSERT_TRUE(WaitStatus("Server ready"));
  SyncWithWindow();
}

void ProgramTest::ChooseClient() {
  ASSERT_TRUE(Click(IDC_CLIENT));
  ASSERT_TRUE(WaitStatus("Client ready"));
  SyncWithWindow();
}

void ProgramTest::StartServer(int port) {
  ChooseServer();
  ASSERT_TRUE(Replace(IDC_TARGET_PORT, std::to_string(port).c_str()));
  ASSERT_TRUE(Click(IDC_START));
  ASSERT_TRUE(WaitStatus("Wait for incoming..."));
}

void ProgramTest::StartClient(int port) {
  ASSERT_TRUE(Replace(IDC_TARGET_HOST, "127.0.0.1"));
  ASSERT_TRUE(Replace(IDC_TARGET_PORT, std::to_string(port).c_str()));
  ASSERT_TRUE(Click(IDC_START));
}

void ProgramTest::StartRefusedClient() {
  const size_t before = host_.BoxCount();
  StartClient(peer::ClosedPort());
  ASSERT_TRUE(host_.WaitForBoxCount(before + 1, kWaitMs));
  EXPECT_EQ(host_.Boxes()[before].caption, "Error 0x274d in Connect");
}

bool ProgramTest::ShowsRunningLook() const {
  return !Enabled(IDC_START) && Enabled(IDC_STOP) && !Enabled(IDC_CLIENT) && !Enabled(IDC_SERVER);
}

bool ProgramTest::ShowsIdleLook() const {
  return Enabled(IDC_START) && !Enabled(IDC_STOP) && Enabled(IDC_CLIENT) && Enabled(IDC_SERVER) &&
         !Enabled(IDC_CLIENT_INFO);
}

bool ProgramTest::WaitForIdle() const {
  return WaitUntil([this] { return ShowsIdleLook() && appState.runState.load() == kRunIdle; });
}

bool ProgramTest::WaitWindowEnabled() const {
  return host_.WaitForState(
      window_, [](const twplat::WindowState& state) { return state.enabled; }, kWaitMs);
}

bool ProgramTest::WaitGone(HWND window) const {
  return WaitUntil([&] { return !host_.State(window).has_value(); });
}

bool ProgramTest::WaitForProgramEnd() {
  return WaitForSingleObject(programEnded_, kWaitMs) == WAIT_OBJECT_0;
}

bool ProgramTest::WorkerEnded(int timeoutMs) const {
  HANDLE worker = appState.workerThread;
  return worker == nullptr || WaitForSingleObject(worker, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace twtest
