// The error box, the end of a run and the status line against the real window
// system, and the wait that Stop relies on (MsgWaitForMultipleObjects).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "core/error_reporter.h"
#include "core/run_state.h"
#include "res/resource.h"
#include "tests/windows/unit/message_boxes.h"

namespace {

constexpr int kBoxWaitMs = 10000;

// Reports on a worker, as the program does, and returns the box's text.
twtest::BoxText ReportOnWorker(const char* operation, LONG code, const char* caption) {
  std::thread worker([=] { ReportError(operation, code); });
  twtest::BoxText box = twtest::WaitForBoxAndClose(caption, kBoxWaitMs);
  worker.join();
  return box;
}

// The caption carries the step and the code on every system. The texts are
// the system's and are printed for comparison, not asserted, except where the
// system has none and the program's own name for the code stands in.
TEST(ErrorBox, CaptionNamesStepAndCodeAndTheTextIsNeverEmpty) {
  struct Case {
    const char* operation;
    DWORD code;
    const char* caption;
  };
  const Case cases[] = {
      {"Connect", 10061, "Error 0x274d in Connect"},
      {"ReceiveData", 10054, "Error 0x2746 in ReceiveData"},
      {"DirectSoundCreate", 0x88780078, "Error 0x88780078 in DirectSoundCreate"},
      {"Play", 0x80004005, "Error 0x80004005 in Play"},
      {"Play", 0x80070057, "Error 0x80070057 in Play"},
      {"CreateSoundBuffer", 0x12345678, "Error 0x12345678 in CreateSoundBuffer"},
  };
  for (const Case& item : cases) {
    twtest::BoxText box =
        ReportOnWorker(item.operation, static_cast<LONG>(item.code), item.caption);
    EXPECT_TRUE(box.found) << item.caption;
    EXPECT_FALSE(box.text.empty()) << item.caption;
    std::printf("[ text ] 0x%08lx: %s\n", static_cast<unsigned long>(item.code), box.text.c_str());
  }
  EXPECT_EQ(ReportOnWorker("Play", 0x12345678, "Error 0x12345678 in Play").text, "Unknown error");
}

class MessageWait : public ::testing::Test {
 protected:
  void SetUp() override {
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    MSG drained;
    while (PeekMessageA(&drained, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override { CloseHandle(event_); }

  DWORD Wait(DWORD ms) { return MsgWaitForMultipleObjects(1, &event_, FALSE, ms, QS_ALLEVENTS); }

  HANDLE event_ = nullptr;
};

TEST_F(MessageWait, PostedMessageWakesTheWaitAndASignalComesFirst) {
  EXPECT_EQ(Wait(0), static_cast<DWORD>(WAIT_TIMEOUT));
  PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
  EXPECT_EQ(Wait(1000), static_cast<DWORD>(WAIT_OBJECT_0 + 1));
  SetEvent(event_);
  EXPECT_EQ(Wait(1000), static_cast<DWORD>(WAIT_OBJECT_0));
}

// A message the thread has already looked at is no longer new: the wait
// sleeps until something else arrives, though the message is still queued.
TEST_F(MessageWait, MessageAlreadyLookedAtDoesNotWakeTheWaitAgain) {
  PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(Wait(200), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
}

// A dialog from the program's own template stands in for the main window.
INT_PTR CALLBACK CountingProc(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_RUN_FINISHED) {
    SetWindowLongPtrA(window, DWLP_USER, GetWindowLongPtrA(window, DWLP_USER) + 1);
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

TEST(RunState, WorkerStatusIsShownAndItsEndPostedOnce) {
  HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                   CountingProc, 0);
  ASSERT_NE(window, nullptr);
  appState.mainWindow.store(window);
  appState.statusLine.store(nullptr);
  std::thread worker([] {
    RunGuard guard;
    SetStatus("Transmitting");  // returns once the window thread has shown it
  });
  MSG message;
  const DWORD start = GetTickCount();
  while (GetWindowLongPtrA(window, DWLP_USER) == 0 && GetTickCount() - start < 5000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageA(&message);
    }
  }
  worker.join();
  char status[64] = {};
  GetDlgItemTextA(window, IDC_STATUS, status, sizeof status);
  EXPECT_STREQ(status, "Transmitting");
  EXPECT_EQ(GetWindowLongPtrA(window, DWLP_USER), 1);
  EXPECT_EQ(appState.runState.load(), kRunFinished);
  EXPECT_EQ(appState.statusLine.load(), GetDlgItem(window, IDC_STATUS));
  appState.mainWindow.store(nullptr);
  appState.statusLine.store(nullptr);
  appState.runState.store(kRunIdle);
  DestroyWindow(window);
}

}  // namespace
