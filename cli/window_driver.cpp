#include "cli/window_driver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "cli/stop_signals.h"
#include "platform/win32/input.h"
#include "res/resource.h"

namespace twcli {
namespace {

using Clock = std::chrono::steady_clock;
using Condition = std::function<bool(const WindowView&)>;

// How soon a signal is seen where the driver sleeps without waiting on the
// window (a pause before a retry, an owned box).
constexpr std::chrono::milliseconds kPollStep{50};
// A wait's longest sleep: signals and changes wake it sooner.
constexpr std::chrono::milliseconds kLongestSleep{1000};
constexpr double kLongestRetryPause =
    60;  // seconds: a speaker box finds its Server within a minute

// How often a device that is not listed yet is looked for again.
constexpr std::chrono::duration<double> kDeviceLookStep{1.0};
constexpr int kDeviceWaitStopped = -2;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

bool ContainsIgnoringCase(const std::string& text, const std::string& part) {
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  };
  return std::search(text.begin(), text.end(), part.begin(), part.end(), same) != text.end();
}

class Driver {
 public:
  Driver(const Options& options, CliHost& host, Console& console)
      : options_(options), host_(host), console_(console) {}

  int Run() {
    switch (Await([](const WindowView& view) { return view.visible; })) {
      case Outcome::kDone:
        break;
      case Outcome::kStop:
        return Close(kExitOk);
      case Outcome::kEnded:
        console_.Line(stderr, "tonewire-cli: the main window could not be opened");
        return kExitFailed;
    }
    dialog_ = host_.Snapshot().dialog;
    return options_.command == Command::kDevices ? ListDevices() : Stream();
  }

 private:
  enum class Outcome { kDone, kStop, kEnded };

  // Waits for done, a stop request (signal or --seconds), or the window's end.
  // It sleeps until a change or a signal wakes it, or the run's deadline.
  Outcome Await(const Condition& done) {
    for (;;) {
      host_.PrintDueSummaries();
      Outcome outcome = Outcome::kStop;
      const bool woke = host_.WaitFor(
          [&](const WindowView& view) {
            if (done(view)) {
              outcome = Outcome::kDone;
              return true;
            }
            if (view.gone || view.programEnded) {
              outcome = Outcome::kEnded;
              return true;
            }
            return StopSignalPending();
          },
          UntilDeadline());
      if (woke && outcome != Outcome::kStop) {
        return outcome;
      }
      if (StopDue()) {
        return Outcome::kStop;
      }
    }
  }

  // How long a wait may sleep: to the end of a --seconds run, otherwise
  // kLongestSleep.
  std::chrono::milliseconds UntilDeadline() const {
    if (!options_.seconds || !startPressed_) {
      return kLongestSleep;
    }
    const auto end = *startPressed_ + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(*options_.seconds));
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
    return std::clamp(left, std::chrono::milliseconds(0), kLongestSleep);
  }

  // --seconds is the length of the run: it counts from the press on Start.
  bool StopDue() const {
    if (TakeStopSignal()) {
      return true;
    }
    if (!options_.seconds || !startPressed_) {
      return false;
    }
    return Clock::now() - *startPressed_ >= std::chrono::duration<double>(*options_.seconds);
  }

  HWND Control(int id) const {
    WindowView view = host_.Snapshot();
    auto found = view.controls.find(id);
    return found == view.controls.end() ? nullptr : found->second;
  }

  // Returns once the window's thread has finished what it was doing: a sent
  // message is handled only between two of its messages.
  void SyncWithWindow() const { SendMessageA(dialog_, WM_NULL, 0, 0); }

  // The close box; retried while an owned box keeps the window disabled.
  int Close(int exitCode) {
    for (;;) {
      WindowView view = host_.Snapshot();
      if (view.gone || view.programEnded || twplat::CloseWindow(dialog_)) {
        return exitCode;
      }
      host_.WaitFor([](const WindowView& v) { return v.gone || v.programEnded; }, kPollStep);
    }
  }

  int InputRefused(const char* what) {
    console_.Line(stderr, std::string("tonewire-cli: the window did not take ") + what);
    return Close(kExitFailed);
  }

  // Clicks the role button unless it is checked already; the list is then
  // refilled for the role before the click's handling returns.
  Outcome ChooseRole(bool server) {
    const int button = server ? IDC_SERVER : IDC_CLIENT;
    const WindowView view = host_.Snapshot();
    const twplat::WindowState* state = view.State(button);
    if (state != nullptr && state->check == BST_CHECKED) {
      return Outcome::kDone;
    }
    if (!twplat::ClickButton(Control(button))) {
      return Outcome::kEnded;
    }
    const std::string ready = server ? "Server ready" : "Client ready";
    Outcome outcome = Await([&](const WindowView& view) { return view.Text(IDC_STATUS) == ready; });
    if (outcome == Outcome::kDone) {
      SyncWithWindow();
    }
    return outcome;
  }

  std::vector<std::string> DeviceEntries(int* selection) const {
    WindowView view = host_.Snapshot();
    const twplat::WindowState* list = view.State(IDC_DEVICE_LIST);
    if (list == nullptr) {
      *selection = -1;
      return {};
    }
    *selection = list->selection;
    return list->items;
  }

  int ListDevices() {
    Outcome outcome = ChooseRole(options_.playbackDevices);
    if (outcome != Outcome::kDone) {
      return outcome == Outcome::kStop ? Close(kExitOk) : InputRefused("the role");
    }
    int selection = -1;
    std::vector<std::string> entries = DeviceEntries(&selection);
    for (size_t i = 0; i < entries.size(); ++i) {
      console_.Line(stdout, (static_cast<int>(i) == selection ? "* " : "  ") + entries[i]);
    }
    return Close(kExitOk);
  }

  // The first entry that holds the --device text, or -1.
  int MatchingEntry(std::vector<std::string>* entries) const {
    int selection = -1;
    *entries = DeviceEntries(&selection);
    for (size_t i = 0; i < entries->size(); ++i) {
      if (ContainsIgnoringCase((*entries)[i], *options_.device)) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  // A sound server's device that is not listed yet (the server still
  // starting, a USB device switched on later) is waited for, the list asked
  // for again every second; one that can never be listed (no sound server is
  // installed, or the built-in devices were chosen) is a usage error: -1,
  // with the entries listed on stderr. kDeviceWaitStopped when a stop
  // request or the window's end came first.
  int FindDevice(bool server) {
    std::vector<std::string> entries;
    int index = MatchingEntry(&entries);
    if (index >= 0 || !DevicesMayAppear(entries)) {
      return index >= 0 ? index : ListMismatch(server, entries);
    }
    const std::string kind = server ? "playback" : "capture";
    console_.Line(stderr, "tonewire-cli: no " + kind + " device matches \"" + *options_.device +
                              "\" yet; waiting for it to appear (\"tonewire-cli devices " + kind +
                              "\" lists them)");
    while (index < 0) {
      if (!WaitOut(kDeviceLookStep) || ChooseRole(!server) != Outcome::kDone ||
          ChooseRole(server) != Outcome::kDone) {
        return kDeviceWaitStopped;
      }
      index = MatchingEntry(&entries);
    }
    return index;
  }

  // The default entry tells a list that cannot change by itself.
  static bool DevicesMayAppear(const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
      for (const char* fixed : {"(no sound server)", "(built-in devices only)"}) {
        const std::string ending(fixed);
        if (entry.size() >= ending.size() &&
            entry.compare(entry.size() - ending.size(), ending.size(), ending) == 0) {
          return false;
        }
      }
    }
    return true;
  }

  int ListMismatch(bool server, const std::vector<std::string>& entries) {
    const char* kind = server ? "playback" : "capture";
    console_.Line(stderr, std::string("tonewire-cli: no ") + kind + " device matches \"" +
                              *options_.device + "\". The " + kind + " devices are:");
    for (const std::string& entry : entries) {
      console_.Line(stderr, "  " + entry);
    }
    return -1;
  }

  // Everything a user sets before Start, in the order of the window's
  // input queue, which the window handles in turn.
  int SetFields(bool server) {
    if (options_.device) {
      int index = FindDevice(server);
      if (index == kDeviceWaitStopped) {
        return Close(kExitOk);
      }
      if (index < 0) {
        return Close(kExitUsage);
      }
      if (!twplat::SelectComboItem(Control(IDC_DEVICE_LIST), index)) {
        return InputRefused("the device");
      }
    }
    if (!server && !twplat::ReplaceText(Control(IDC_TARGET_HOST), options_.host.c_str())) {
      return InputRefused("the host");
    }
    // Emptied first, then typed: the field keeps only the digits, so a port
    // with no digit leaves it empty, as a user's typing would.
    if (options_.port && !(twplat::ReplaceText(Control(IDC_TARGET_PORT), "") &&
                           twplat::TypeText(Control(IDC_TARGET_PORT), options_.port->c_str()))) {
      return InputRefused("the port");
    }
    if (options_.volume && !twplat::MoveSlider(Control(IDC_VOLUME), *options_.volume)) {
      return InputRefused("the volume");
    }
    return -1;
  }

  int Stream() {
    const bool server = options_.command == Command::kServer;
    Outcome outcome = ChooseRole(server);
    if (outcome != Outcome::kDone) {
      return outcome == Outcome::kStop ? Close(kExitOk) : InputRefused("the role");
    }
    int exitCode = SetFields(server);
    if (exitCode >= 0) {
      return exitCode;
    }
    std::chrono::duration<double> pause(options_.retry.value_or(0));
    for (;;) {
      bool streamed = false;
      const RunEnd end = RunOnce(&streamed);
      switch (end) {
        case RunEnd::kRefused:
          return InputRefused("Start");
        case RunEnd::kStopped:
          return Close(kExitOk);
        case RunEnd::kWindowGone:
          return kExitOk;
        case RunEnd::kNoRun:
          return Close(kExitFailed);  // a field error: Start started no run
        case RunEnd::kEnded:
        case RunEnd::kEndedAfterError:
          break;
      }
      if (!options_.retry) {
        return Close(end == RunEnd::kEndedAfterError ? kExitFailed : kExitOk);
      }
      if (streamed) {
        pause = std::chrono::duration<double>(*options_.retry);
      }
      if (!PauseBeforeRetry(pause)) {
        return Close(kExitOk);
      }
      pause = std::min(pause * 2, std::chrono::duration<double>(kLongestRetryPause));
    }
  }

  enum class RunEnd { kRefused, kStopped, kWindowGone, kNoRun, kEnded, kEndedAfterError };

  // One press on Start and the run it starts, to its end; streamed tells
  // whether sound went over the connection (the Client transmitted or the
  // Server played).
  RunEnd RunOnce(bool* streamed) {
    const WindowView before = host_.Snapshot();
    if (!twplat::ClickButton(Control(IDC_START))) {
      return RunEnd::kRefused;
    }
    if (!startPressed_) {
      startPressed_ = Clock::now();  // --seconds counts from the first press
    }
    Outcome outcome = Await([&](const WindowView& view) {
      return view.startDisabled > before.startDisabled || view.uiThreadBoxes > before.uiThreadBoxes;
    });
    if (outcome != Outcome::kDone) {
      return outcome == Outcome::kStop ? RunEnd::kStopped : RunEnd::kWindowGone;
    }
    if (host_.Snapshot().startDisabled == before.startDisabled) {
      return RunEnd::kNoRun;
    }
    const RunEnd end = FollowRun(before);
    const WindowView after = host_.Snapshot();
    *streamed = after.playbackShown > before.playbackShown ||
                after.transmittingShown > before.transmittingShown;
    return end;
  }

  // Waits out the pause before the next Start; false on a stop request or
  // the window's end.
  bool PauseBeforeRetry(std::chrono::duration<double> pause) {
    if (options_.verbosity != Verbosity::kQuiet) {
      char line[80];
      std::snprintf(line, sizeof line, "tonewire-cli: pressing Start again in %.1f s",
                    pause.count());
      console_.Line(stderr, line);
    }
    return WaitOut(pause);
  }

  // Sleeps for pause; false on a stop request or the window's end.
  bool WaitOut(std::chrono::duration<double> pause) {
    const Clock::time_point due = Clock::now() + std::chrono::duration_cast<Clock::duration>(pause);
    while (Clock::now() < due) {
      host_.PrintDueSummaries();
      if (StopDue()) {
        return false;
      }
      WindowView view = host_.Snapshot();
      if (view.gone || view.programEnded) {
        return false;
      }
      std::this_thread::sleep_for(std::min<Clock::duration>(kPollStep, due - Clock::now()));
    }
    return !StopDue();
  }

  // Until the run ends by itself or a stop request; presses "Client Info"
  // once for every connection the Server plays.
  RunEnd FollowRun(const WindowView& before) {
    int infoShownFor = before.playbackShown;
    for (;;) {
      Outcome outcome = Await([&](const WindowView& view) {
        return view.startEnabled > before.startEnabled ||
               (view.playbackShown > infoShownFor && view.Enabled(IDC_CLIENT_INFO));
      });
      if (outcome != Outcome::kDone) {
        return outcome == Outcome::kStop ? RunEnd::kStopped : RunEnd::kWindowGone;
      }
      WindowView view = host_.Snapshot();
      if (view.startEnabled > before.startEnabled) {
        return view.errorBoxes > before.errorBoxes ? RunEnd::kEndedAfterError : RunEnd::kEnded;
      }
      if (twplat::ClickButton(Control(IDC_CLIENT_INFO))) {
        infoShownFor = view.playbackShown;
      } else {
        std::this_thread::sleep_for(kPollStep);  // an owned box has the window for now
      }
    }
  }

  const Options& options_;
  CliHost& host_;
  Console& console_;
  std::optional<Clock::time_point> startPressed_;
  HWND dialog_ = nullptr;
};

}  // namespace

int DriveWindow(const Options& options, CliHost& host, Console& console) {
  return Driver(options, host, console).Run();
}

}  // namespace twcli
