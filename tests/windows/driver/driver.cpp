// Runs the real program window (WinMain, as tonewire.exe does) and works it
// like a user from a second thread, with the messages a click or a typed text
// sends: picks the role, fills the fields, presses Start, prints every status
// text it sees on stdout, and closes the window after the given time.
//
//   tonewire_driver client HOST PORT SECONDS
//   tonewire_driver server PORT SECONDS
//
// The exit status is the program's, or 2 when the window never opened.
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app/entry.h"
#include "res/resource.h"
#include "run/run_commands.h"

namespace {

constexpr int kPollMs = 20;
constexpr int kWindowWaitMs = 30000;
// A stopped worker releases its socket and sound objects within this.
constexpr DWORD kWorkerEndMs = 5000;

struct Plan {
  bool client = true;
  std::string host;
  UINT port = 0;
  DWORD runMs = 0;
};

bool ParsePlan(int argc, char** argv, Plan& plan) {
  if (argc == 5 && std::strcmp(argv[1], "client") == 0) {
    plan = {true, argv[2], static_cast<UINT>(std::atoi(argv[3])),
            static_cast<DWORD>(std::atof(argv[4]) * 1000)};
    return true;
  }
  if (argc == 4 && std::strcmp(argv[1], "server") == 0) {
    plan = {false, "", static_cast<UINT>(std::atoi(argv[2])),
            static_cast<DWORD>(std::atof(argv[3]) * 1000)};
    return true;
  }
  return false;
}

HWND WaitForMainWindow() {
  for (int waited = 0; waited < kWindowWaitMs; waited += kPollMs) {
    HWND window = FindWindowA(nullptr, "Audio streamer");
    if (window != nullptr && IsWindowVisible(window)) {
      return window;
    }
    Sleep(kPollMs);
  }
  return nullptr;
}

void Click(HWND window, int id) { SendDlgItemMessageA(window, id, BM_CLICK, 0, 0); }

// Prints each status text once, as it changes, until the time is up.
void WatchStatus(HWND window, DWORD runMs) {
  std::string shown;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < runMs && IsWindow(window)) {
    char text[256] = {};
    GetDlgItemTextA(window, IDC_STATUS, text, sizeof text);
    // "Received N M" changes with every chunk: printed once, when it first shows.
    const bool counting = std::strncmp(text, "Received", 8) == 0;
    if (text != shown && !(counting && shown.rfind("Received", 0) == 0)) {
      std::printf("status: %s\n", text);
      std::fflush(stdout);
      shown = text;
    }
    Sleep(kPollMs);
  }
}

void Drive(const Plan& plan, bool* opened) {
  HWND window = WaitForMainWindow();
  if (window == nullptr) {
    std::printf("the main window did not open\n");
    std::fflush(stdout);
    return;
  }
  *opened = true;
  Click(window, plan.client ? IDC_CLIENT : IDC_SERVER);
  if (plan.client) {
    SetDlgItemTextA(window, IDC_TARGET_HOST, plan.host.c_str());
  }
  SetDlgItemInt(window, IDC_TARGET_PORT, plan.port, FALSE);
  Click(window, IDC_START);
  WatchStatus(window, plan.runMs);
  SendMessageA(window, WM_CLOSE, 0, 0);
  std::printf("closed\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Plan plan;
  if (!ParsePlan(argc, argv, plan)) {
    std::fprintf(stderr, "usage: %s client HOST PORT SECONDS | server PORT SECONDS\n", argv[0]);
    return 64;
  }
  // Lines end in "\n" alone, as the reader on the other side expects.
  _setmode(_fileno(stdout), _O_BINARY);
  bool opened = false;
  std::thread driver(Drive, plan, &opened);
  const int exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWNORMAL);
  driver.join();
  // The window reports Stopped once the worker has finished its run, which
  // may be before it has released its sound objects. Under Wine, ending the
  // process in the middle of that release can take the process down with a
  // signal in the sound driver's teardown, so the worker is let finish first,
  // as tonewire-cli does.
  WaitForWorkerEnd(kWorkerEndMs);
  std::fflush(nullptr);
  std::_Exit(opened ? exitCode : 2);
}
