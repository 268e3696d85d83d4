// The host of tonewire-cli: keeps what the window system reports about the
// main window for the driver, prints every change of the status line, draws
// the buffer meter, and answers every message box with OK as soon as it is
// printed.
//
// Thread contract: the notifications come from whichever thread made the
// change (the worker too); they update the view under one lock and print
// through the Console, never waiting for another thread. The driver reads the
// view from its own thread.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/line_limiter.h"
#include "cli/status_filter.h"
#include "platform/win32/host.h"

namespace twcli {

// The main window as the driver sees it, with counts of the events it waits
// for (counts, so that a change undone before the driver looks is not missed).
struct WindowView {
  HWND dialog = nullptr;
  bool visible = false;
  bool gone = false;          // the main window was destroyed
  bool programEnded = false;  // WinMain has returned
  std::map<int, HWND> controls;
  std::map<int, twplat::WindowState> states;  // by control identifier
  int uiThreadBoxes = 0;      // boxes of the user-interface thread, the Info box excepted
  int errorBoxes = 0;         // every box but the Info box
  int startDisabled = 0;      // times "Start" became disabled: a run started
  int startEnabled = 0;       // times "Start" became enabled again: the window reset
  int playbackShown = 0;      // times the status line changed to "Playback"
  int transmittingShown = 0;  // times the status line changed to "Transmitting"
  int infoBoxes = 0;

  const twplat::WindowState* State(int id) const;
  bool Enabled(int id) const;
  std::string Text(int id) const;
};

class CliHost : public twplat::Host {
 public:
  // Made on the thread that will run WinMain, which it takes for the
  // user-interface thread. Installs itself; the destructor uninstalls it.
  // Status texts are printed through the filter when printStatus is set.
  CliHost(Console& console, bool printStatus, StatusFilter filter);
  ~CliHost() override;

  void WindowCreated(const twplat::WindowDescription& window,
                     const twplat::WindowState& state) override;
  void WindowChanged(HWND window, twplat::WindowChange what,
                     const twplat::WindowState& state) override;
  void WindowDestroyed(HWND window) override;
  void MessageBoxOpened(const std::shared_ptr<twplat::MessageBoxRecord>& box) override;
  // The program's log lines (the Server's playback target) go to stdout
  // beside the status texts, unless quiet.
  void DebugOutput(const char* text) override;

  // Prints the status summary still owed, then lets the driver see the end.
  void MarkProgramEnded();
  // Prints the summaries of repeated lines whose period has ended; the
  // driver calls it at least once a second.
  void PrintDueSummaries();

  // Has WaitFor ask its condition again (a stop signal arrived).
  void Wake();

  WindowView Snapshot() const;
  // True once done(view) holds; false after timeout. done is asked again on
  // every change but a control's position (a meter's, a slider's).
  bool WaitFor(const std::function<bool(const WindowView&)>& done,
               std::chrono::milliseconds timeout) const;

 private:
  struct Known {
    HWND parent;
    int id;
  };

  void ControlChanged(int id, twplat::WindowChange what, const twplat::WindowState& before,
                      const twplat::WindowState& after);
  void PrintStatus(const std::string& text);
  void PrintLines(const std::vector<std::string>& out, const std::vector<std::string>& err);

  Console& console_;
  const bool printStatus_;
  const bool quiet_;
  const DWORD uiThread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<HWND, Known> windows_;
  WindowView view_;
  StatusFilter filter_;   // under mutex_
  LineLimiter boxLines_;  // under mutex_
};

}  // namespace twcli
