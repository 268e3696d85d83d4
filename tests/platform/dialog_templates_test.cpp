// The two dialog templates, control by control, and the windows built from
// them.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "platform/win32/resources.h"
#include "res/resource.h"
#include "tests/support/test_dialog.h"
#include "tests/support/test_host.h"

namespace {

struct Expected {
  int id;
  std::string className;
  std::string text;
  short x, y, cx, cy;
  DWORD styles;  // besides WS_CHILD | WS_VISIBLE, which every control has
};

const std::vector<Expected> kMainWindow = {
    {1007, "BUTTON", "Start", 41, 207, 50, 14, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
    {1008, "BUTTON", "Exit", 232, 207, 50, 14, BS_PUSHBUTTON | WS_TABSTOP},
    {1001, "COMBOBOX", "", 88, 34, 147, 152,
     CBS_DROPDOWN | CBS_SORT | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP},
    {-1, "STATIC", "Audio device", 33, 35, 42, 8, SS_LEFT | WS_GROUP},
    {1002, "EDIT", "", 87, 63, 96, 14, WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP},
    {-1, "STATIC", "Target host", 33, 64, 38, 8, SS_LEFT | WS_GROUP},
    {1003, "EDIT", "", 86, 93, 40, 14, WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP},
    {-1, "STATIC", "Target port", 33, 95, 38, 8, SS_LEFT | WS_GROUP},
    {-1, "STATIC", "Buffer", 37, 122, 21, 8, SS_LEFT | WS_GROUP},
    {1000, "BUTTON", "About", 167, 207, 50, 14, BS_PUSHBUTTON | WS_TABSTOP},
    {1006, "BUTTON", "Stop", 103, 207, 50, 14, BS_PUSHBUTTON | WS_TABSTOP},
    {1004, "msctls_progress32", "", 85, 121, 144, 14, WS_BORDER},
    {1009, "BUTTON", "Client", 87, 159, 34, 10, BS_AUTORADIOBUTTON | WS_GROUP},
    {1010, "BUTTON", "Server", 126, 159, 37, 10, BS_AUTORADIOBUTTON},
    {-1, "STATIC", "Work as", 38, 157, 27, 8, SS_LEFT | WS_GROUP},
    {1011, "BUTTON", "Client Info", 230, 179, 50, 14, BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED},
    {1012, "msctls_trackbar32", "", 88, 178, 123, 17, TBS_BOTH | TBS_NOTICKS | WS_TABSTOP},
    {-1, "STATIC", "Volume", 39, 181, 34, 8, SS_LEFT | WS_GROUP},
    {-1, "STATIC", "-", 81, 181, 8, 8, SS_LEFT | WS_GROUP},
    {-1, "STATIC", "+", 213, 180, 8, 8, SS_LEFT | WS_GROUP},
    {1014, "STATIC", "Ready", 85, 138, 143, 11, SS_CENTER | SS_ENDELLIPSIS | WS_BORDER | WS_GROUP},
};

const std::vector<Expected> kAboutBox = {
    {-1, "STATIC", "Tonewire", 68, 14, 69, 8, SS_LEFT | SS_NOPREFIX | WS_GROUP},
    {1, "BUTTON", "OK", 189, 11, 30, 11, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
    {-1, "STATIC", "Written by the Tonewire developers", 26, 45, 140, 8, SS_LEFT | WS_GROUP},
    {-1, "STATIC", "", 28, 11, 16, 16, SS_ICON | SS_REALSIZEIMAGE},
};

void ExpectControls(const twplat::DialogTemplate& dialog, const std::vector<Expected>& expected) {
  ASSERT_EQ(dialog.controls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const twplat::ControlTemplate& control = dialog.controls[i];
    const Expected& want = expected[i];
    SCOPED_TRACE("control " + std::to_string(i) + " (" + want.text + ")");
    EXPECT_EQ(control.id, want.id);
    EXPECT_EQ(control.className, want.className);
    EXPECT_EQ(control.text != nullptr ? control.text : "", want.text);
    EXPECT_EQ(control.x, want.x);
    EXPECT_EQ(control.y, want.y);
    EXPECT_EQ(control.cx, want.cx);
    EXPECT_EQ(control.cy, want.cy);
    EXPECT_EQ(control.style, want.styles | WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(control.exStyle, 0u);
    EXPECT_EQ(control.helpId, 0u);
  }
}

// A dialog's own fields: caption, styles, rectangle and (upright) font.
struct ExpectedFrame {
  std::string caption;
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;
  std::string face;
  WORD pointSize;
  WORD weight;
  BYTE charset;
};

void ExpectFrame(const twplat::DialogTemplate& dialog, const ExpectedFrame& want) {
  EXPECT_STREQ(dialog.caption, want.caption.c_str());
  EXPECT_EQ(dialog.style, want.style);
  EXPECT_EQ(dialog.exStyle, want.exStyle);
  EXPECT_EQ(dialog.x, want.x);
  EXPECT_EQ(dialog.y, want.y);
  EXPECT_EQ(dialog.cx, want.cx);
  EXPECT_EQ(dialog.cy, want.cy);
  EXPECT_STREQ(dialog.font.face, want.face.c_str());
  EXPECT_EQ(dialog.font.pointSize, want.pointSize);
  EXPECT_EQ(dialog.font.weight, want.weight);
  EXPECT_FALSE(dialog.font.italic);
  EXPECT_EQ(dialog.font.charset, want.charset);
}

TEST(DialogTemplates, MainWindowIsTemplate129) {
  const twplat::DialogTemplate* dialog = twplat::FindDialogTemplate(129);
  ASSERT_NE(dialog, nullptr);
  ExpectFrame(*dialog, {"Audio streamer",
                        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
                            DS_SETFONT | DS_FIXEDSYS,
                        WS_EX_APPWINDOW, 0, 0, 322, 239, "MS Shell Dlg", 8, 400, 1});
  ExpectControls(*dialog, kMainWindow);
}

TEST(DialogTemplates, AboutBoxIsTemplate103WithIcon107) {
  const twplat::DialogTemplate* dialog = twplat::FindDialogTemplate(103);
  ASSERT_NE(dialog, nullptr);
  ExpectFrame(*dialog, {"About", WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT,
                        0, 22, 17, 230, 75, "System", 8, 0, 0});
  ExpectControls(*dialog, kAboutBox);
  EXPECT_EQ(dialog->controls[3].iconId, 107);
}

TEST(DialogTemplates, BuiltWindowsCarryTheTemplateAndTheIcon) {
  twtest::TestHost host;
  HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(IDI_TONEWIRE));
  ASSERT_NE(icon, nullptr);
  ASSERT_NE(twplat::IconFromHandle(icon), nullptr);
  EXPECT_EQ(twplat::IconFromHandle(icon)->id, 107);
  EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(108)), nullptr);

  twtest::RunInsideDialog([&](HWND mainWindow) {
    EXPECT_EQ(host.Description(mainWindow)->templateId, 129);
    EXPECT_EQ(host.State(mainWindow)->text, "Audio streamer");
    for (const Expected& want : kMainWindow) {
      if (want.id == -1) {
        continue;
      }
      HWND control = GetDlgItem(mainWindow, want.id);
      ASSERT_NE(control, nullptr) << want.id;
      EXPECT_EQ(host.Description(control)->className, want.className);
      EXPECT_EQ(host.State(control)->text, want.text);
      EXPECT_EQ(IsWindowEnabled(control) != FALSE, (want.styles & WS_DISABLED) == 0) << want.id;
    }
    SendMessageA(mainWindow, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    EXPECT_EQ(SendMessageA(mainWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon)), 0);
    EXPECT_EQ(host.State(mainWindow)->icon, icon);
    EXPECT_EQ(host.State(mainWindow)->smallIcon, icon);

    twtest::TestDialog about;
    about.onInit = [&](HWND aboutBox) -> INT_PTR {
      EXPECT_EQ(GetParent(aboutBox), mainWindow);
      EXPECT_EQ(host.Description(aboutBox)->font->face, std::string("System"));
      std::vector<HWND> controls = host.Controls(aboutBox);
      EXPECT_EQ(controls.size(), kAboutBox.size());
      if (!controls.empty()) {
        EXPECT_EQ(host.State(controls.back())->icon, icon);
        EXPECT_EQ(host.State(controls.front())->icon, nullptr);
      }
      EndDialog(aboutBox, 0);
      return TRUE;
    };
    twtest::RunDialog(IDD_ABOUT, mainWindow, about);
  });
}

}  // namespace
