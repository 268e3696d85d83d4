// Controls of the main window template: what they keep, what they refuse,
// and what they tell their dialog.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/win32/input.h"
#include "res/resource.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_host.h"

namespace {

std::string ItemText(HWND combo, int index) {
  char text[256] = {};
  SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
  return text;
}

std::vector<std::string> Items(HWND combo) {
  std::vector<std::string> items;
  LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (int i = 0; i < count; ++i) {
    items.push_back(ItemText(combo, i));
  }
  return items;
}

LRESULT Add(HWND combo, const char* text) {
  return SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

std::string TextOf(HWND window) {
  char text[256];
  GetWindowTextA(window, text, sizeof text);
  return text;
}

struct Command {
  int id;
  int code;
  HWND sender;
};

// The main window template with a procedure that records WM_COMMAND and
// WM_HSCROLL, running body inside WM_INITDIALOG.
struct RecordingDialog {
  std::vector<Command> commands;
  std::vector<WPARAM> scrolls;
  std::vector<HWND> scrollSenders;

  void Run(const std::function<void(HWND)>& body) {
    twtest::TestDialog dialog;
    dialog.onInit = [&](HWND window) -> INT_PTR {
      body(window);
      EndDialog(window, 0);
      return TRUE;
    };
    dialog.onMessage = [&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
      if (message == WM_COMMAND) {
        commands.push_back({LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
      } else if (message == WM_HSCROLL) {
        scrolls.push_back(wParam);
        scrollSenders.push_back(reinterpret_cast<HWND>(lParam));
      }
      return FALSE;
    };
    twtest::RunDialog(IDD_MAIN, nullptr, dialog);
  }
};

TEST(ComboBox, SortsWithoutCaseAndKeepsTheChosenEntryAndItsData) {
  twtest::TestHost host;
  twtest::RunInsideDialog([](HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_DEVICE_LIST);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(Add(combo, "beta"), 0);
    EXPECT_EQ(Add(combo, "Gamma"), 1);
    EXPECT_EQ(Add(combo, "alpha"), 0);
    EXPECT_EQ(Add(combo, "Beta"), 2);  // equal without case: after the one already there
    EXPECT_EQ(Items(combo), (std::vector<std::string>{"alpha", "beta", "Beta", "Gamma"}));

    SendMessageA(combo, CB_SETCURSEL, 2, 0);
    SendMessageA(combo, CB_SETITEMDATA, 2, 0x1234);
    EXPECT_EQ(Add(combo, "Aardvark"), 0);
    EXPECT_EQ(Add(combo, "zulu"), 5);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(ItemText(combo, 3), "Beta");
    EXPECT_EQ(SendMessageA(combo, CB_GETITEMDATA, 3, 0), 0x1234);
    EXPECT_EQ(SendMessageA(combo, CB_GETITEMDATA, 0, 0), 0);
    EXPECT_EQ(TextOf(combo), "Beta");

    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(TextOf(combo), "");
  });
}

TEST(ComboBox, HasNoChoiceAfterTypingOrAnIndexOutOfRange) {
  twtest::TestHost host;
  RecordingDialog recorder;
  recorder.Run([&](HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_DEVICE_LIST);
    Add(combo, "Default device");
    Add(combo, "Virtual cable");
    SendMessageA(combo, CB_SETCURSEL, 1, 0);

    ASSERT_TRUE(twplat::TypeText(combo, "!"));
    twtest::DrainMessages();
    EXPECT_EQ(TextOf(combo), "Virtual cable!");
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_GETITEMDATA, static_cast<WPARAM>(-1), 0), CB_ERR);

    // Picking an entry from the list chooses it and tells the dialog.
    ASSERT_TRUE(twplat::SelectComboItem(combo, 0));
    twtest::DrainMessages();
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(TextOf(combo), "Default device");
    ASSERT_FALSE(recorder.commands.empty());
    EXPECT_EQ(recorder.commands.back().id, IDC_DEVICE_LIST);
    EXPECT_EQ(recorder.commands.back().code, CBN_SELCHANGE);

    EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 5, 0), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendMessageA(combo, CB_GETITEMDATA, 5, 0), CB_ERR);
  });
}

TEST(EditField, NumberFieldRefusesTypedNonDigitsButTakesAnySetText) {
  twtest::TestHost host;
  twtest::RunInsideDialog([](HWND dialog) {
    HWND port = GetDlgItem(dialog, IDC_TARGET_PORT);
    HWND hostField = GetDlgItem(dialog, IDC_TARGET_HOST);
    ASSERT_TRUE(twplat::TypeText(port, "55a6-7 "));
    ASSERT_TRUE(twplat::TypeText(hostField, "10.0.0.1"));
    twtest::DrainMessages();
    EXPECT_EQ(TextOf(port), "5567");
    EXPECT_EQ(TextOf(hostField), "10.0.0.1");

    ASSERT_TRUE(twplat::ReplaceText(port, "80"));
    ASSERT_TRUE(twplat::TypeText(hostField, "\b\b"));
    twtest::DrainMessages();
    EXPECT_EQ(TextOf(port), "80");
    EXPECT_EQ(TextOf(hostField), "10.0.0");

    SetWindowTextA(port, "abc");
    EXPECT_EQ(TextOf(port), "abc");
  });
}

TEST(EditField, GetDlgItemIntAcceptsOnlyWholeNumbersThatFit) {
  twtest::TestHost host;
  twtest::RunInsideDialog([](HWND dialog) {
    struct Case {
      const char* text;
      BOOL isSigned;
      BOOL translated;
      UINT value;
    } cases[] = {
        {"", FALSE, FALSE, 0},
        {"abc", FALSE, FALSE, 0},
        {"12abc", FALSE, FALSE, 0},
        {" 5567 ", FALSE, TRUE, 5567},
        {"0", FALSE, TRUE, 0},
        {"-5", FALSE, FALSE, 0},
        {"-5", TRUE, TRUE, static_cast<UINT>(-5)},
        {"4294967295", FALSE, TRUE, 4294967295u},
        {"4294967296", FALSE, FALSE, 0},
        {"2147483648", TRUE, FALSE, 0},
        {"-", TRUE, FALSE, 0},
    };
    for (const Case& c : cases) {
      SetDlgItemTextA(dialog, IDC_TARGET_PORT, c.text);
      BOOL translated = 2;
      UINT value = GetDlgItemInt(dialog, IDC_TARGET_PORT, &translated, c.isSigned);
      EXPECT_EQ(translated, c.translated) << '"' << c.text << '"';
      EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
    SetDlgItemInt(dialog, IDC_TARGET_PORT, 5567, TRUE);
    EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_TARGET_PORT)), "5567");
    SetDlgItemInt(dialog, IDC_TARGET_PORT, static_cast<UINT>(-3), TRUE);
    EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_TARGET_PORT)), "-3");
    BOOL translated = TRUE;
    EXPECT_EQ(GetDlgItemInt(dialog, 4242, &translated, FALSE), 0u);
    EXPECT_FALSE(translated);
  });
}

TEST(RadioButtons, AClickMovesTheCheckWithinTheGroupBeforeTheDialogHears) {
  twtest::TestHost host;
  std::vector<UINT> serverCheckedAtClick;
  twtest::TestDialog dialog;
  std::vector<int> clicked;
  dialog.onInit = [&](HWND window) -> INT_PTR {
    CheckRadioButton(window, IDC_CLIENT, IDC_SERVER, IDC_CLIENT);
    twplat::ClickButton(GetDlgItem(window, IDC_SERVER));
    twplat::ClickButton(GetDlgItem(window, IDC_SERVER));
    PostMessageA(window, WM_APP, 0, 0);
    return TRUE;
  };
  dialog.onMessage = [&](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
    if (message == WM_COMMAND) {
      clicked.push_back(LOWORD(wParam));
      serverCheckedAtClick.push_back(IsDlgButtonChecked(window, IDC_SERVER));
    } else if (message == WM_APP) {
      EXPECT_EQ(IsDlgButtonChecked(window, IDC_CLIENT), static_cast<UINT>(BST_UNCHECKED));
      EndDialog(window, 0);
    }
    return FALSE;
  };
  twtest::RunDialog(IDD_MAIN, nullptr, dialog);
  // A click on the button already checked is reported too.
  EXPECT_EQ(clicked, (std::vector<int>{IDC_SERVER, IDC_SERVER}));
  EXPECT_EQ(serverCheckedAtClick, (std::vector<UINT>{BST_CHECKED, BST_CHECKED}));
}

TEST(Buttons, DisabledOnesTakeNoClicksAndAnyThreadMayEnableThem) {
  twtest::TestHost host;
  RecordingDialog recorder;
  recorder.Run([&](HWND dialog) {
    HWND info = GetDlgItem(dialog, IDC_CLIENT_INFO);
    EXPECT_FALSE(IsWindowEnabled(info));  // disabled by the template
    EXPECT_FALSE(twplat::ClickButton(info));

    // The worker's EnableWindow needs nothing from this thread.
    std::thread worker([info] { EXPECT_TRUE(EnableWindow(info, TRUE)); });
    worker.join();
    EXPECT_TRUE(IsWindowEnabled(info));
    EXPECT_TRUE(host.State(info)->enabled);
    EXPECT_FALSE(EnableWindow(info, FALSE));  // it was enabled
    EXPECT_TRUE(EnableWindow(info, FALSE));   // it was disabled
    EXPECT_TRUE(EnableWindow(info, TRUE));

    ASSERT_TRUE(twplat::ClickButton(info));
    EnableWindow(info, FALSE);  // disabled before the click is handled
    twtest::DrainMessages();
    EXPECT_TRUE(recorder.commands.empty());
    EnableWindow(info, TRUE);
    ASSERT_TRUE(twplat::ClickButton(info));
    twtest::DrainMessages();
    ASSERT_EQ(recorder.commands.size(), 1u);
    EXPECT_EQ(recorder.commands[0].id, IDC_CLIENT_INFO);
    EXPECT_EQ(recorder.commands[0].code, BN_CLICKED);
    EXPECT_EQ(recorder.commands[0].sender, info);
  });
}

TEST(Trackbar, KeepsItsPositionInsideItsRangeAndReportsUserMoves) {
  twtest::TestHost host;
  RecordingDialog recorder;
  recorder.Run([&](HWND dialog) {
    HWND slider = GetDlgItem(dialog, IDC_VOLUME);
    // The main window's start-up order: the range is posted, the position sent.
    PostMessageA(slider, TBM_SETRANGEMAX, TRUE, 0);
    PostMessageA(slider, TBM_SETRANGEMIN, TRUE, -50);
    SendMessageA(slider, TBM_SETPOS, TRUE, 0);
    SendMessageA(slider, TBM_SETTICFREQ, 1, 0);
    EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 0);
    twtest::DrainMessages();
    EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0), -50);
    EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 0);
    EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 0);

    SendMessageA(slider, TBM_SETPOS, TRUE, 20);
    EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 0);
    SendMessageA(slider, TBM_SETPOS, TRUE, -80);
    EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), -50);
    EXPECT_TRUE(recorder.scrolls.empty());  // the program's own settings are not reported

    ASSERT_TRUE(twplat::MoveSlider(slider, -12));
    ASSERT_TRUE(twplat::MoveSlider(slider, 7));
    twtest::DrainMessages();
    EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 0);
    ASSERT_FALSE(recorder.scrolls.empty());
    EXPECT_EQ(LOWORD(recorder.scrolls[0]), TB_THUMBPOSITION);
    EXPECT_EQ(static_cast<short>(HIWORD(recorder.scrolls[0])), -12);
    for (HWND sender : recorder.scrollSenders) {
      EXPECT_EQ(GetDlgCtrlID(sender), IDC_VOLUME);
    }

    EnableWindow(slider, FALSE);
    EXPECT_FALSE(twplat::MoveSlider(slider, -5));
  });
}

TEST(ProgressBar, TakesItsRangeAndPositionsPostedFromAnotherThread) {
  twtest::TestHost host;
  twtest::RunInsideDialog([&](HWND dialog) {
    HWND meter = GetDlgItem(dialog, IDC_BUFFER_METER);
    std::thread worker([meter] {
      PostMessageA(meter, PBM_SETPOS, 30000, 0);
      PostMessageA(meter, PBM_SETPOS, 50000, 0);
    });
    SendMessageA(meter, PBM_SETRANGE32, 0, 44096);
    worker.join();
    twtest::DrainMessages();
    EXPECT_EQ(SendMessageA(meter, PBM_GETPOS, 0, 0), 44096);  // kept inside the range
    PBRANGE range{};
    EXPECT_EQ(SendMessageA(meter, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range)), 44096);
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 44096);
    EXPECT_EQ(host.State(meter)->position, 44096);
  });
}

TEST(Windows, StaleAndNullHandlesFailWithoutHarm) {
  twtest::TestHost host;
  HWND dialog = nullptr;
  HWND start = nullptr;
  twtest::RunInsideDialog([&](HWND window) {
    dialog = window;
    start = GetDlgItem(window, IDC_START);
    EXPECT_EQ(GetParent(start), window);
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetDlgCtrlID(start), IDC_START);
    // Only the owning thread may destroy a window.
    std::thread other([window] {
      EXPECT_FALSE(DestroyWindow(window));
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    });
    other.join();
    SetLastError(0);
    EXPECT_EQ(GetDlgItem(window, 4242), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
  });
  for (HWND gone : {dialog, start, static_cast<HWND>(nullptr)}) {
    SetLastError(0);
    EXPECT_FALSE(IsWindow(gone));
    EXPECT_FALSE(EnableWindow(gone, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(GetDlgItem(gone, IDC_START), nullptr);
    EXPECT_FALSE(SetDlgItemTextA(gone, IDC_STATUS, "x"));
    char text[8] = "junk";
    EXPECT_EQ(GetWindowTextA(gone, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(IsDlgButtonChecked(gone, IDC_CLIENT), 0u);
    EXPECT_FALSE(twplat::ClickButton(gone));
  }
  HWND desktop = GetDesktopWindow();
  EXPECT_NE(desktop, nullptr);
  EXPECT_TRUE(IsWindow(desktop));
}

}  // namespace
