// What the runners' fixed per-pass work costs on this machine, apart from
// sound and network: the Client's 10 ms waits for its capture ring (at
// least 100 a second while it streams), and the Server's per-chunk status
// text, sent to the window's thread and waited for, plus its buffer meter
// position, posted (one pair per received chunk: 250 a second at 192000
// Hz/8/32). The window is the main dialog on this thread, with the headless
// host; the chunks come from a worker thread 4 ms apart, as at 192000 Hz/8/32.
//
// Prints a table and asserts nothing.
#include <time.h>
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <thread>

#include "res/resource.h"
#include "tests/support/test_dialog.h"

namespace {

constexpr int kWaits = 1000;
constexpr int kChunks = 2500;
constexpr DWORD kChunkSpacingMs = 4;
constexpr UINT kWorkerDone = WM_APP + 1;

double ProcessCpuMs() {
  timespec now = {};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

// A wait that times out, as the Client's does while its ring fills.
double MsPerTimedWait() {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const double from = ProcessCpuMs();
  for (int i = 0; i < kWaits; ++i) {
    WaitForSingleObject(event, 10);
  }
  const double spent = ProcessCpuMs() - from;
  CloseHandle(event);
  return spent / kWaits;
}

// The worker's chunks, each with or without its status send and meter post;
// the dialog's thread handles the messages until the worker says it is done.
double MsPerChunk(HWND dialog, bool withMessages) {
  HWND status = GetDlgItem(dialog, IDC_STATUS);
  HWND meter = GetDlgItem(dialog, IDC_BUFFER_METER);
  const double from = ProcessCpuMs();
  std::thread worker([=] {
    HANDLE pace = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (int chunk = 0; chunk < kChunks; ++chunk) {
      WaitForSingleObject(pace, kChunkSpacingMs);
      if (withMessages) {
        char text[48];
        std::snprintf(text, sizeof text, "Received %d %d", chunk, 24576);
        SendMessageA(status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        PostMessageA(meter, PBM_SETPOS, static_cast<WPARAM>(chunk % 1000), 0);
      }
    }
    CloseHandle(pace);
    PostMessageA(dialog, kWorkerDone, 0, 0);
  });
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0 && message.message != kWorkerDone) {
    DispatchMessageA(&message);
  }
  worker.join();
  return (ProcessCpuMs() - from) / kChunks;
}

}  // namespace

int main() {
  const double wait = MsPerTimedWait();
  double paced = 0;
  double messaged = 0;
  twtest::RunInsideDialog([&](HWND dialog) {
    paced = MsPerChunk(dialog, false);
    messaged = MsPerChunk(dialog, true);
  });
  const double perChunk = messaged - paced;
  std::printf("fixed per-pass work, CPU of this process (both threads)\n");
  std::printf("%-44s %10s %12s %14s\n", "work", "us each", "per second", "% of one core");
  std::printf("%-44s %10.1f %12d %14.3f\n", "10 ms wait that times out (Client)", wait * 1e3, 100,
              wait * 100 / 10);
  std::printf("%-44s %10.1f %12d %14.3f\n", "status send + meter post per chunk (Server)",
              perChunk * 1e3, 250, perChunk * 250 / 10);
  std::printf("(chunk pacing alone: %.1f us each, not counted above)\n", paced * 1e3);
  return 0;
}
