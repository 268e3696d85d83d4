// The dialog manager: modal loops, dialog keys, default processing, owned
// dialogs and message boxes on the user-interface thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/input.h"
#include "res/resource.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_host.h"

namespace {

constexpr UINT kStep = WM_APP + 1;

// Runs the template with a procedure that records the command identifiers
// and performs scripted steps: steps[i] runs when the i-th kStep message is
// dispatched, each step posting the next after the input it queued.
struct ScriptedDialog {
  std::vector<int> commands;
  std::vector<std::function<void(HWND)>> steps;
  bool handleCommands = true;  // TRUE for commands, like a procedure that acts on them

  INT_PTR Run(WORD templateId, HWND owner = nullptr) {
    twtest::TestDialog dialog;
    dialog.onInit = [](HWND window) -> INT_PTR {
      PostMessageA(window, kStep, 0, 0);
      return TRUE;
    };
    dialog.onMessage = [this](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
      if (message == WM_COMMAND) {
        commands.push_back(LOWORD(wParam));
        return handleCommands ? TRUE : FALSE;
      }
      if (message == kStep) {
        if (wParam < steps.size()) {
          steps[wParam](window);
          PostMessageA(window, kStep, wParam + 1, 0);
        } else {
          EndDialog(window, 99);
        }
        return TRUE;
      }
      return FALSE;
    };
    return twtest::RunDialog(templateId, owner, dialog);
  }
};

// A modal loop that a quit request ended posts the request again: it is the
// thread's next message, with its exit code.
void ExpectQuitPostedAgain(WPARAM exitCode) {
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, exitCode);
}

TEST(DialogKeys, EnterClicksTheEnabledDefaultButtonAndEscapeCancels) {
  twtest::TestHost host;
  ScriptedDialog script;
  script.steps = {
      [](HWND dialog) { twplat::PressKey(dialog, VK_RETURN); },
      [](HWND dialog) {
        EnableWindow(GetDlgItem(dialog, IDC_START), FALSE);
        twplat::PressKey(dialog, VK_RETURN);
      },
      [](HWND dialog) { twplat::PressKey(dialog, VK_ESCAPE); },
  };
  EXPECT_EQ(script.Run(IDD_MAIN), 99);
  EXPECT_EQ(script.commands, (std::vector<int>{IDC_START, IDCANCEL}));
}

TEST(DialogKeys, OnlyTheModalLoopTreatsThemAsDialogKeys) {
  twtest::TestHost host;
  ScriptedDialog script;
  script.steps = {[](HWND dialog) {
    // Read and dispatched by a plain PeekMessage loop, Enter is just a key.
    twplat::PressKey(dialog, VK_RETURN);
    twtest::DrainMessages();
  }};
  script.Run(IDD_MAIN);
  EXPECT_TRUE(script.commands.empty());
}

TEST(DialogManager, ShowsTheDialogAfterInitWithTheFocusOnTheFirstTabStop) {
  twtest::TestHost host;
  for (INT_PTR initResult : {TRUE, FALSE}) {
    bool visibleDuringInit = true;
    HWND focus = nullptr;
    HWND start = nullptr;
    twtest::TestDialog dialog;
    std::thread user;
    dialog.onInit = [&](HWND window) -> INT_PTR {
      visibleDuringInit = host.State(window)->visible;
      user = std::thread([&host, window] {
        EXPECT_EQ(host.WaitForDialog("Audio streamer", 10000), window);
        PostMessageA(window, kStep, 0, 0);
      });
      return initResult;
    };
    dialog.onMessage = [&](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
      if (message == kStep) {
        focus = host.State(window)->focus;
        start = GetDlgItem(window, IDC_START);
        EndDialog(window, 5);
        EXPECT_FALSE(host.State(window)->visible);
      }
      return FALSE;
    };
    EXPECT_EQ(twtest::RunDialog(IDD_MAIN, nullptr, dialog), 5);
    user.join();
    EXPECT_FALSE(visibleDuringInit);
    EXPECT_EQ(focus, initResult ? start : nullptr);
  }
}

TEST(DialogManager, CloseBoxMeansCancelUnlessTheProcedureHandlesIt) {
  twtest::TestHost host;
  ScriptedDialog about;
  about.handleCommands = false;
  // The command is posted: it comes after the close box's WM_CLOSE.
  about.steps = {[](HWND dialog) { twplat::CloseWindow(dialog); }, [](HWND) {}};
  about.Run(IDD_ABOUT);
  EXPECT_EQ(about.commands, (std::vector<int>{IDCANCEL}));

  // The About box's procedure ends the box with the command's identifier.
  for (int key : {VK_RETURN, VK_ESCAPE, 0}) {
    twtest::TestDialog box;
    box.onInit = [key](HWND window) -> INT_PTR {
      key != 0 ? twplat::PressKey(window, key) : twplat::CloseWindow(window);
      return TRUE;
    };
    box.onMessage = [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
      if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    };
    EXPECT_EQ(twtest::RunDialog(IDD_ABOUT, nullptr, box), key == VK_RETURN ? IDOK : IDCANCEL);
  }
}

TEST(DialogManager, DestroyingTheWindowEndsTheLoopAfterWmDestroy) {
  twtest::TestHost host;
  std::vector<UINT> seen;
  twtest::TestDialog dialog;
  dialog.onInit = [](HWND window) -> INT_PTR {
    twplat::CloseWindow(window);
    return TRUE;
  };
  dialog.onMessage = [&](HWND window, UINT message, WPARAM, LPARAM) -> INT_PTR {
    if (message == WM_CLOSE) {
      seen.push_back(message);
      DestroyWindow(window);
      return TRUE;
    }
    if (message == WM_DESTROY) {
      seen.push_back(message);
      EXPECT_TRUE(IsWindow(window));
      PostQuitMessage(0);
    }
    return FALSE;
  };
  EXPECT_EQ(twtest::RunDialog(IDD_MAIN, nullptr, dialog), 0);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_CLOSE, WM_DESTROY}));
  EXPECT_EQ(host.WaitForDialog("Audio streamer", 0), nullptr);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
}

TEST(DialogManager, QuitRequestEndsTheLoopAndIsPostedAgain) {
  twtest::TestHost host;
  twtest::TestDialog dialog;
  dialog.onInit = [](HWND) -> INT_PTR {
    PostQuitMessage(3);
    return TRUE;
  };
  EXPECT_EQ(twtest::RunDialog(IDD_MAIN, nullptr, dialog), 0);
  EXPECT_FALSE(IsWindow(dialog.window));
  ExpectQuitPostedAgain(3);
}

TEST(DialogManager, UnknownTemplateFails) {
  twtest::TestHost host;
  twtest::TestDialog dialog;
  SetLastError(0);
  EXPECT_EQ(twtest::RunDialog(4242, nullptr, dialog), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(dialog.window, nullptr);
}

TEST(OwnedDialog, DisablesItsOwnerWhileTheOwnersMessagesKeepFlowing) {
  twtest::TestHost host;
  std::vector<std::string> events;
  ScriptedDialog mainWindow;
  mainWindow.steps = {[&](HWND owner) {
    HWND status = GetDlgItem(owner, IDC_STATUS);
    ScriptedDialog about;
    about.steps = {
        [&](HWND) {
          EXPECT_FALSE(IsWindowEnabled(owner));
          EXPECT_FALSE(twplat::ClickButton(GetDlgItem(owner, IDC_START)));
          EXPECT_FALSE(twplat::PressKey(owner, VK_ESCAPE));
          // A worker's sent status text reaches the owner through this loop.
          std::thread worker([status] {
            SendMessageA(status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Playback"));
          });
          twtest::PumpUntil([&] { return host.State(status)->text == "Playback"; }, 10000);
          worker.join();
          events.push_back(host.State(status)->text);
        },
    };
    events.push_back("about ended " + std::to_string(about.Run(IDD_ABOUT, owner)));
    events.push_back(IsWindowEnabled(owner) ? "owner enabled" : "owner disabled");
  }};
  mainWindow.Run(IDD_MAIN);
  EXPECT_EQ(events, (std::vector<std::string>{"Playback", "about ended 99", "owner enabled"}));
}

TEST(MessageBox, OnTheWindowThreadKeepsDispatchingUntilClosed) {
  twtest::TestHost host;
  host.HoldBoxes(true);
  std::atomic<int> seenDuringBox{0};
  twtest::TestDialog dialog;
  dialog.onInit = [&](HWND window) -> INT_PTR {
    HWND status = GetDlgItem(window, IDC_STATUS);
    std::thread helper([&, window, status] {
      ASSERT_TRUE(host.WaitForBoxCount(1, 10000));
      EXPECT_FALSE(IsWindowEnabled(window));  // the box's owner
      SendMessageA(status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("sent during the box"));
      PostMessageA(window, kStep, 0, 0);
      while (seenDuringBox.load() == 0) {
        Sleep(1);
      }
      host.Dismiss(0, IDOK);
    });
    EXPECT_EQ(MessageBoxA(window, "Timed out", "Error", MB_ICONERROR), IDOK);
    helper.join();
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_EQ(host.State(status)->text, "sent during the box");
    EndDialog(window, 0);
    return TRUE;
  };
  dialog.onMessage = [&](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR {
    if (message == kStep) {
      seenDuringBox.fetch_add(1);
    }
    return FALSE;
  };
  twtest::RunDialog(IDD_MAIN, nullptr, dialog);
  EXPECT_EQ(seenDuringBox.load(), 1);
  ASSERT_EQ(host.BoxCount(), 1u);
  EXPECT_EQ(host.Boxes()[0].caption, "Error");
}

TEST(MessageBox, AQuitRequestClosesItAndIsPostedAgain) {
  twtest::TestHost host;
  host.HoldBoxes(true);
  twtest::RunInsideDialog([&](HWND window) {
    PostQuitMessage(4);
    EXPECT_EQ(MessageBoxA(window, "text", "Info", MB_OK), IDOK);
    ExpectQuitPostedAgain(4);
  });
}

TEST(MessageBox, FromAWorkerBlocksOnlyTheWorker) {
  twtest::TestHost host;
  host.HoldBoxes(true);
  twtest::RunInsideDialog([&](HWND window) {
    std::atomic<int> answer{0};
    std::thread worker([&] { answer.store(MessageBoxA(nullptr, "Got junk", "Net", MB_OK)); });
    ASSERT_TRUE(host.WaitForBoxCount(1, 10000));
    // The window thread goes on; the worker is still waiting for the user.
    EXPECT_TRUE(SetDlgItemTextA(window, IDC_STATUS, "still running"));
    EXPECT_EQ(answer.load(), 0);
    host.Dismiss(0, IDCANCEL);
    worker.join();
    EXPECT_EQ(answer.load(), IDCANCEL);
    EXPECT_EQ(host.Boxes()[0].owner, nullptr);
  });
}

}  // namespace
