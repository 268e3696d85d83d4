// Message queues across threads: sent messages, posted messages, input, and
// the wait on kernel objects plus the queue.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/win32/input.h"
#include "res/resource.h"
#include "tests/support/mouse_move.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_host.h"

namespace {

using twtest::RunInsideDialog;

constexpr UINT kTestMessage = WM_APP + 7;

std::string TextOf(HWND window) {
  char text[256];
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// A worker that sends WM_SETTEXT to a window of the test thread and notes
// when its send has returned.
class SendingWorker {
 public:
  SendingWorker(HWND target, const char* text)
      : thread_([this, target, text] {
          result_ = SendMessageA(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
          returned_.store(true);
        }) {}
  // A send that was never answered is answered here, so a failed test does
  // not hang (the target's owner is the thread that made the worker).
  ~SendingWorker() {
    if (thread_.joinable()) {
      twtest::PumpUntil([this] { return returned(); }, 10000);
      thread_.join();
    }
  }
  bool returned() const { return returned_.load(); }
  LRESULT Join() {
    thread_.join();
    thread_ = std::thread();
    return result_;
  }

 private:
  std::atomic<bool> returned_{false};
  LRESULT result_ = 0;
  std::thread thread_;
};

TEST(CrossThreadSend, BlocksUntilTheOwnerLooksAtItsQueue) {
  twtest::TestHost host;
  RunInsideDialog([](HWND dialog) {
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    SendingWorker worker(status, "from the worker");
    Sleep(100);
    EXPECT_FALSE(worker.returned());
    EXPECT_EQ(TextOf(status), "Ready");

    EXPECT_TRUE(twtest::PumpUntil([&] { return worker.returned(); }, 10000));
    EXPECT_EQ(worker.Join(), TRUE);
    EXPECT_EQ(TextOf(status), "from the worker");
  });
}

TEST(CrossThreadSend, IsDeliveredInsidePeekMessageWhateverItsFilter) {
  twtest::TestHost host;
  RunInsideDialog([](HWND dialog) {
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    SendingWorker worker(status, "peeked");
    MSG message;
    // The filter matches nothing that is posted; the sent message is still
    // handled by the call that looks at the queue.
    while (!worker.returned()) {
      PeekMessageA(&message, dialog, kTestMessage, kTestMessage, PM_NOREMOVE);
      Sleep(1);
    }
    EXPECT_EQ(TextOf(status), "peeked");
  });
}

TEST(CrossThreadSend, FailsCleanlyForMissingWindowsAndAnswersZeroWhenTheOwnerEnds) {
  twtest::TestHost host;
  SetLastError(0);
  EXPECT_EQ(SendMessageA(nullptr, WM_SETTEXT, 0, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

  HWND stale = nullptr;
  RunInsideDialog([&](HWND dialog) { stale = GetDlgItem(dialog, IDC_STATUS); });
  SetLastError(0);
  EXPECT_EQ(SendMessageA(stale, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("x")), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

  // A window whose thread ends with a send pending: the sender is released.
  std::atomic<HWND> target{nullptr};
  std::atomic<bool> release{false};
  std::thread owner([&] {
    RunInsideDialog([&](HWND dialog) {
      target.store(GetDlgItem(dialog, IDC_STATUS));
      while (!release.load()) {
        Sleep(1);  // never looks at its queue
      }
    });
  });
  while (target.load() == nullptr) {
    Sleep(1);
  }
  std::thread releaser([&] {
    Sleep(50);
    release.store(true);
  });
  LRESULT result = SendMessageA(target.load(), WM_GETTEXTLENGTH, 0, 0);
  releaser.join();
  owner.join();
  // Either answered by the ending dialog's destruction or refused: never a hang.
  EXPECT_EQ(result, 0);
}

TEST(PostMessage, RefusesNullAndStaleWindows) {
  twtest::TestHost host;
  SetLastError(0);
  EXPECT_FALSE(PostMessageA(nullptr, PBM_SETPOS, 10, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  HWND stale = nullptr;
  RunInsideDialog([&](HWND dialog) { stale = GetDlgItem(dialog, IDC_BUFFER_METER); });
  EXPECT_FALSE(PostMessageA(stale, PBM_SETPOS, 10, 0));
  EXPECT_FALSE(IsWindow(stale));
}

TEST(PeekMessage, WindowFilterTakesTheWindowAndItsControlsOnly) {
  twtest::TestHost host;
  RunInsideDialog([](HWND mainWindow) {
    twtest::TestDialog about;
    about.onInit = [&](HWND aboutBox) -> INT_PTR {
      HWND meter = GetDlgItem(mainWindow, IDC_BUFFER_METER);
      PostMessageA(meter, PBM_SETPOS, 5, 0);
      PostMessageA(GetDlgItem(aboutBox, IDOK), kTestMessage, 1, 0);
      PostMessageA(aboutBox, kTestMessage + 1, 2, 0);

      MSG message;
      EXPECT_TRUE(PeekMessageA(&message, aboutBox, 0, 0, PM_REMOVE));
      EXPECT_EQ(message.message, kTestMessage);
      EXPECT_EQ(message.hwnd, GetDlgItem(aboutBox, IDOK));
      // A range filter skips what is outside it.
      EXPECT_TRUE(PeekMessageA(&message, mainWindow, PBM_SETPOS, PBM_SETPOS, PM_NOREMOVE));
      EXPECT_EQ(message.hwnd, meter);
      EXPECT_FALSE(PeekMessageA(&message, mainWindow, kTestMessage, kTestMessage + 1, PM_REMOVE));
      EXPECT_TRUE(PeekMessageA(&message, aboutBox, 0, 0, PM_REMOVE));
      EXPECT_EQ(message.message, kTestMessage + 1);
      EXPECT_FALSE(PeekMessageA(&message, aboutBox, 0, 0, PM_REMOVE));
      // PM_NOREMOVE left the meter's message where it was.
      EXPECT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
      EXPECT_EQ(message.message, static_cast<UINT>(PBM_SETPOS));
      EndDialog(aboutBox, 0);
      return TRUE;
    };
    twtest::RunDialog(IDD_ABOUT, mainWindow, about);
  });
}

TEST(PeekMessage, QuitComesAfterPostedMessagesAndMatchesAnyFilter) {
  twtest::TestHost host;
  RunInsideDialog([](HWND dialog) {
    PostQuitMessage(7);
    PostMessageA(dialog, kTestMessage, 0, 0);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, dialog, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, kTestMessage);
    ASSERT_TRUE(PeekMessageA(&message, dialog, kTestMessage, kTestMessage, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  });
}

// MsgWaitForMultipleObjects as StopRun calls it: one handle, 0xBF.
DWORD WaitLikeStop(HANDLE handle, DWORD milliseconds) {
  return MsgWaitForMultipleObjects(1, &handle, FALSE, milliseconds, QS_ALLEVENTS);
}

// Runs test inside a modal dialog, its queue drained as a modal loop
// leaves it, with an auto-reset event to wait on.
void WithWaitingDialog(const std::function<void(HWND dialog, HANDLE event)>& test) {
  twtest::TestHost host;
  RunInsideDialog([&](HWND dialog) {
    twtest::DrainMessages();
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    test(dialog, event);
    CloseHandle(event);
  });
}

// What a wait on event returns when another thread does arrive() 20 ms into it.
DWORD WaitWhileAnotherThread(HANDLE event, const std::function<void()>& arrive) {
  std::thread other([&] {
    Sleep(20);
    arrive();
  });
  const DWORD woken = WaitLikeStop(event, 10000);
  other.join();
  return woken;
}

TEST(MsgWait, GivesZeroForASignalledHandleAndTimeOutWhenNothingHappens) {
  WithWaitingDialog([](HWND, HANDLE event) {
    EXPECT_EQ(WaitLikeStop(event, 30), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(event);
    EXPECT_EQ(WaitLikeStop(event, 3000), WAIT_OBJECT_0);

    HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    EXPECT_EQ(WaitLikeStop(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
  });
}

TEST(MsgWait, GivesCountForAPostedMessageFromAnotherThread) {
  WithWaitingDialog([](HWND dialog, HANDLE event) {
    EXPECT_EQ(WaitWhileAnotherThread(event, [dialog] { PostMessageA(dialog, kTestMessage, 0, 0); }),
              WAIT_OBJECT_0 + 1);
  });
}

TEST(MsgWait, OnlyNewMessagesWakeIt) {
  WithWaitingDialog([](HWND dialog, HANDLE event) {
    PostMessageA(dialog, kTestMessage, 0, 0);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, dialog, 0, 0, PM_NOREMOVE));
    // Still queued, but seen: the wait does not return at once for it.
    EXPECT_EQ(WaitLikeStop(event, 30), static_cast<DWORD>(WAIT_TIMEOUT));

    PostMessageA(dialog, kTestMessage, 0, 0);
    EXPECT_EQ(WaitLikeStop(event, 3000), WAIT_OBJECT_0 + 1);
    // Reported once; a second wait does not see it again.
    EXPECT_EQ(WaitLikeStop(event, 30), static_cast<DWORD>(WAIT_TIMEOUT));
    twtest::DrainMessages();
  });
}

TEST(MsgWait, HandlesSentMessagesWithoutEndingTheWait) {
  WithWaitingDialog([](HWND dialog, HANDLE event) {
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    SendingWorker worker(status, "Transmitting");
    // Every wait runs out its time: the send never wakes it, yet is answered
    // by it (nothing else looks at the queue here).
    for (int i = 0; i < 100 && !worker.returned(); ++i) {
      ASSERT_EQ(WaitLikeStop(event, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    EXPECT_TRUE(worker.returned());
    EXPECT_EQ(TextOf(status), "Transmitting");
  });
}

TEST(MsgWait, WakesForInputSuchAsAMouseMove) {
  WithWaitingDialog([](HWND dialog, HANDLE event) {
    EXPECT_EQ(WaitWhileAnotherThread(event, [dialog] { twtest::SimulateMouseMove(dialog); }),
              WAIT_OBJECT_0 + 1);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, dialog, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_MOUSEMOVE));
    // A mask without mouse input ignores it.
    twtest::SimulateMouseMove(dialog);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 30, QS_POSTMESSAGE),
              static_cast<DWORD>(WAIT_TIMEOUT));
    twtest::DrainMessages();
  });
}

TEST(MsgWait, FailsForABadHandle) {
  HANDLE none = nullptr;
  SetLastError(0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &none, FALSE, 10, QS_ALLEVENTS), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
