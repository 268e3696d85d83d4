#include <windows.h>

#include <commctrl.h>

#include <dsound.h>

#include "app/main_window.h"

#include <cstdio>

#include "app/about_box.h"
#include "app/device_list.h"
#include "app/settings.h"
#include "core/app_state.h"
#include "core/run_state.h"
#include "res/resource.h"
#include "run/run_commands.h"

namespace {

constexpr int kSliderLeftEnd = -50;  // dB of attenuation at the left end
constexpr LONG kVolumeStepsPerDb = 100;

LRESULT SendToControl(HWND window, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(GetDlgItem(window, id), message, wParam, lParam);
}

// Hundredths of a decibel, -5000..0.
void ReadVolume(HWND window) {
  LRESULT position = SendToControl(window, IDC_VOLUME, TBM_GETPOS, 0, 0);
  appState.volume.store(static_cast<LONG>(position) * kVolumeStepsPerDb);
}

void ShowIcon(HWND window) {
  HICON icon = LoadIconA(appState.instance, MAKEINTRESOURCEA(IDI_TONEWIRE));
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

// The range is posted, so it takes effect once the modal loop runs; the
// position is set at once, inside the slider's initial range.
void SetUpVolumeSlider(HWND window) {
  HWND slider = GetDlgItem(window, IDC_VOLUME);
  PostMessageA(slider, TBM_SETRANGEMAX, TRUE, 0);
  PostMessageA(slider, TBM_SETRANGEMIN, TRUE, kSliderLeftEnd);
  SendMessageA(slider, TBM_SETPOS, TRUE, 0);
  SendMessageA(slider, TBM_SETTICFREQ, 1, 0);
}

void ShowAboutBox(HWND window) {
  DialogBoxParamA(appState.instance, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDialogProc, 0);
}

void CloseByExit(HWND window) {
  EndDialog(window, 0);
  DestroyWindow(window);
}

INT_PTR OnCommand(HWND window, int id) {
  switch (id) {
    case IDC_ABOUT:
      ShowAboutBox(window);
      return TRUE;
    case IDC_STOP:
      StopRun(window);
      return TRUE;
    case IDC_START:
      StartRun(window, SelectedDeviceId(window));
      return TRUE;
    case IDC_EXIT:
      CloseByExit(window);
      return TRUE;
    case IDC_CLIENT:
    case IDC_SERVER:
      ApplyRole(window);
      return TRUE;
    case IDC_CLIENT_INFO:
      ShowClientInfo(window);
      return TRUE;
    default:
      return FALSE;  // IDOK and IDCANCEL too: Enter and Escape never close the window
  }
}

// Every scroll code re-reads the position: line, page, thumb track alike.
void OnHorizontalScroll(HWND window, LPARAM sender) {
  if (GetDlgCtrlID(reinterpret_cast<HWND>(sender)) == IDC_VOLUME) {
    ReadVolume(window);
  }
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return InitMainWindow(window);
    case WM_COMMAND:
      return OnCommand(window, LOWORD(wParam));
    case WM_CLOSE:
      DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      KeepSettings(window);  // the controls still show what the user chose
      StopRun(window);
      PostQuitMessage(0);
      return FALSE;
    case WM_HSCROLL:
      OnHorizontalScroll(window, lParam);
      return FALSE;
    case WM_RUN_FINISHED:
      StopRun(window);
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL InitMainWindow(HWND window) {
  appState.mainWindow.store(window);
  ShowIcon(window);
  SetDlgItemTextA(window, IDC_TARGET_HOST, kDefaultHost);
  SetDlgItemInt(window, IDC_TARGET_PORT, kDefaultPort, TRUE);
  EnableWindow(GetDlgItem(window, IDC_STOP), FALSE);
  CheckRadioButton(window, IDC_CLIENT, IDC_SERVER, IDC_CLIENT);
  SetUpVolumeSlider(window);
  ReadVolume(window);
  ApplyRole(window);
  ApplyKeptSettings(window);
  return TRUE;
}

void ApplyRole(HWND window) {
  HWND list = GetDlgItem(window, IDC_DEVICE_LIST);
  SendMessageA(list, CB_RESETCONTENT, 0, 0);
  const bool client = IsDlgButtonChecked(window, IDC_CLIENT) == BST_CHECKED;
  EnableWindow(GetDlgItem(window, IDC_TARGET_HOST), client ? TRUE : FALSE);
  EnableWindow(GetDlgItem(window, IDC_VOLUME), client ? FALSE : TRUE);
  SetStatus(client ? "Client ready" : "Server ready");
  if (client) {
    DirectSoundCaptureEnumerateA(AddDeviceEntry, list);
  } else {
    DirectSoundEnumerateA(AddDeviceEntry, list);
  }
}

int ShowClientInfo(HWND window) {
  const StreamHeader header = appState.currentHeader.Get();
  char text[100];
  std::snprintf(text, sizeof text, "Client %dHz %d channels %d blen",
                static_cast<int>(header.samplesPerSecond), static_cast<int>(header.channels),
                static_cast<int>(header.blockLength));
  MessageBoxA(window, text, "Info", MB_OK);
  return 0;
}
