// Runs the whole program on the test's thread, which is Qt's thread, as the
// desktop program does: the Qt host installed, then WinMain until its window
// closes. The test writes a script of steps; they run from Qt's event loop
// while the program waits for input, each waiting for its condition and then
// acting as the user would. When the script is done, or a step has waited
// too long, the session answers open boxes and closes the window, and the
// program ends.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/qt/qt_host.h"

namespace twtest {

// Generous: every step goes on as soon as its condition holds.
inline constexpr int kStepTimeoutMs = 10000;

class DesktopSession {
 public:
  DesktopSession& Await(std::string what, std::function<bool()> condition);
  DesktopSession& Then(std::function<void()> action);
  // Both in one step.
  DesktopSession& Await(std::string what, std::function<bool()> condition,
                        std::function<void()> action);

  // Runs the program with the script. A step that waits too long fails the
  // test with its description.
  void Run();
  // True when the program ended by itself (the script closed it), not
  // because the session closed it after the script.
  bool endedByProgram() const { return endedByProgram_; }
  twqt::QtHost& host() { return host_; }

 private:
  struct Step {
    std::string what;
    std::function<bool()> condition;
    std::function<void()> action;
  };

  void Tick();
  void CloseEverything();

  twqt::QtHost host_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  unsigned long long stepStartedMs_ = 0;
  unsigned long long lastCloseMs_ = 0;
  bool closing_ = false;
  bool ticking_ = false;
  bool endedByProgram_ = false;
};

}  // namespace twtest
