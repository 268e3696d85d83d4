// A host for tests: records every message box and either answers it at once
// or holds the calling thread until the test dismisses the box. It also
// records the windows the window system reports, with every text each one
// showed, and gives a test the user's input. Constructing one installs it for
// the process; destroying it restores the headless host.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/host.h"
#include "platform/win32/input.h"

namespace twtest {

struct BoxInfo {
  HWND owner;
  std::string caption;
  std::string text;
  UINT style;
  DWORD threadId;
};

class TestHost : public twplat::Host {
 public:
  TestHost();
  ~TestHost() override;

  // While held, new boxes stay open until Dismiss() (or until holding stops).
  void HoldBoxes(bool hold);

  void MessageBoxOpened(const std::shared_ptr<twplat::MessageBoxRecord>& box) override;

  std::vector<BoxInfo> Boxes() const;
  size_t BoxCount() const;
  // Waits until at least count boxes have opened; false after timeoutMs.
  bool WaitForBoxCount(size_t count, int timeoutMs) const;
  // The box with this index (in order of opening), or null.
  std::shared_ptr<twplat::MessageBoxRecord> Box(size_t index) const;
  void Dismiss(size_t index, int result = IDOK);
  void ClearBoxes();

  // Windows, as the window system reported them.
  void WindowCreated(const twplat::WindowDescription& window,
                     const twplat::WindowState& state) override;
  void WindowChanged(HWND window, twplat::WindowChange what,
                     const twplat::WindowState& state) override;
  void WindowDestroyed(HWND window) override;

  // The last state reported, or nothing for a window never seen or gone.
  std::optional<twplat::WindowState> State(HWND window) const;
  std::optional<twplat::WindowDescription> Description(HWND window) const;
  // A dialog's controls, in template order.
  std::vector<HWND> Controls(HWND dialog) const;
  // Every text the window showed, its first text included, in order.
  std::vector<std::string> Texts(HWND window) const;
  // Waits until the window's reported state satisfies done; false after
  // timeoutMs or when the window is gone.
  bool WaitForState(HWND window, const std::function<bool(const twplat::WindowState&)>& done,
                    int timeoutMs) const;
  bool WaitForText(HWND window, const std::string& text, int timeoutMs) const;
  // The first dialog with this caption that is visible, waiting up to
  // timeoutMs for one; null if none.
  HWND WaitForDialog(const std::string& caption, int timeoutMs) const;

  // The user's input (platform/win32/input.h) to control id of a dialog.
  static bool Click(HWND dialog, int id);
  static bool Type(HWND dialog, int id, const char* text);
  static bool Replace(HWND dialog, int id, const char* text);
  static bool Select(HWND dialog, int id, int index);
  static bool Slide(HWND dialog, int id, int position);
  static bool Press(HWND dialog, int virtualKey) { return twplat::PressKey(dialog, virtualKey); }
  static bool Close(HWND dialog) { return twplat::CloseWindow(dialog); }

 private:
  struct WindowRecord {
    twplat::WindowDescription description;
    twplat::WindowState state;
    std::vector<std::string> texts;
  };

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool hold_ = false;
  std::vector<std::shared_ptr<twplat::MessageBoxRecord>> boxes_;
  std::map<HWND, WindowRecord> windows_;
};

// Dispatches everything queued for the calling thread, sent messages
// included, until nothing is left; a pending quit request is dropped. The way
// a test that owns windows lets them handle what was posted or typed.
void DrainMessages();
// Runs the calling thread's message loop until done() or timeoutMs; false on
// time-out.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

}  // namespace twtest
