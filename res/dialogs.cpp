// The program's resources: the main window (129), the About box (103) and
// the program's icon (107). The one place where their layout is written.
#include <windows.h>

#include <commctrl.h>  // needs windows.h first, as the SDK's does

#include "res/resource.h"
#include "res/resource_table.h"

namespace {

using twres::ControlTemplate;
using twres::DialogTemplate;

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr int kNoId = -1;

constexpr ControlTemplate kMainControls[] = {
    {IDC_START, "BUTTON", "Start", 0, 41, 207, 50, 14,
     kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0, 0},
    {IDC_EXIT, "BUTTON", "Exit", 0, 232, 207, 50, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0, 0},
    {IDC_DEVICE_LIST, "COMBOBOX", nullptr, 0, 88, 34, 147, 152,
     kChild | CBS_DROPDOWN | CBS_SORT | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 0, 0},
    {kNoId, "STATIC", "Audio device", 0, 33, 35, 42, 8, kChild | SS_LEFT | WS_GROUP, 0, 0},
    {IDC_TARGET_HOST, "EDIT", nullptr, 0, 87, 63, 96, 14,
     kChild | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 0, 0},
    {kNoId, "STATIC", "Target host", 0, 33, 64, 38, 8, kChild | SS_LEFT | WS_GROUP, 0, 0},
    {IDC_TARGET_PORT, "EDIT", nullptr, 0, 86, 93, 40, 14,
     kChild | WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP, 0, 0},
    {kNoId, "STATIC", "Target port", 0, 33, 95, 38, 8, kChild | SS_LEFT | WS_GROUP, 0, 0},
    {kNoId, "STATIC", "Buffer", 0, 37, 122, 21, 8, kChild | SS_LEFT | WS_GROUP, 0, 0},
    {IDC_ABOUT, "BUTTON", "About", 0, 167, 207, 50, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0, 0},
    {IDC_STOP, "BUTTON", "Stop", 0, 103, 207, 50, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0, 0},
    {IDC_BUFFER_METER, PROGRESS_CLASSA, nullptr, 0, 85, 121, 144, 14, kChild | WS_BORDER, 0, 0},
    {IDC_CLIENT, "BUTTON", "Client", 0, 87, 159, 34, 10, kChild | BS_AUTORADIOBUTTON | WS_GROUP, 0,
     0},
    {IDC_SERVER, "BUTTON", "Server", 0, 126, 159, 37, 10, kChild | BS_AUTORADIOBUTTON, 0, 0},
    {kNoId, "STATIC", "Work as", 0, 38, 157, 27, 8, kChild | SS_LEFT | WS_GROUP, 0, 0},
    {IDC_CLIENT_INFO, "BUTTON", "Client Info", 0, 230, 179, 50, 14,
     kChild | BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0, 0},
    {IDC_VOLUME, TRACKBAR_CLASSA, nullptr, 0, 88, 178, 123, 17,
     kChild | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP, 0, 0},
    {kNoId, "STATIC", "Volume", 0, 39, 181, 34, 8, kChild | SS_LEFT | WS_GROUP, 0, 0},
    {kNoId, "STATIC", "-", 0, 81, 181, 8, 8, kChild | SS_LEFT | WS_GROUP, 0, 0},
    {kNoId, "STATIC", "+", 0, 213, 180, 8, 8, kChild | SS_LEFT | WS_GROUP, 0, 0},
    // Bordered rather than sunken; a text too long for it ends in an ellipsis.
    {IDC_STATUS, "STATIC", "Ready", 0, 85, 138, 143, 11,
     kChild | SS_CENTER | SS_ENDELLIPSIS | WS_BORDER | WS_GROUP, 0, 0},
};

constexpr ControlTemplate kAboutControls[] = {
    {kNoId, "STATIC", "Tonewire", 0, 68, 14, 69, 8, kChild | SS_LEFT | SS_NOPREFIX | WS_GROUP, 0,
     0},
    {IDOK, "BUTTON", "OK", 0, 189, 11, 30, 11, kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0,
     0},
    {kNoId, "STATIC", "Written by the Tonewire developers", 0, 26, 45, 140, 8,
     kChild | SS_LEFT | WS_GROUP, 0, 0},
    {kNoId, "STATIC", nullptr, IDI_TONEWIRE, 28, 11, 16, 16, kChild | SS_ICON | SS_REALSIZEIMAGE, 0,
     0},
};

// No centring style and no owner: the main window opens at the top-left
// corner of the screen. It is hidden until the dialog manager shows it.
const DialogTemplate kDialogs[] = {
    {IDD_MAIN,
     "Audio streamer",
     WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS,
     WS_EX_APPWINDOW,
     0,
     0,
     322,
     239,
     {"MS Shell Dlg", 8, 400, false, 1},
     kMainControls},
    {IDD_ABOUT,
     "About",
     WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT,
     0,
     22,
     17,
     230,
     75,
     {"System", 8, 0, false, 0},
     kAboutControls},
};

const twres::IconResource kIcons[] = {{IDI_TONEWIRE, "tonewire"}};

}  // namespace

const twres::ResourceTable& twres::ProgramResources() {
  static const ResourceTable table{kDialogs, kIcons};
  return table;
}
