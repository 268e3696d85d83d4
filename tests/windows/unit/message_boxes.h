// Finds a real message box by its caption, reads its text and closes it, for
// tests whose code under test opens one on another thread.
#pragma once

#include <windows.h>

#include <string>

namespace twtest {

struct BoxText {
  bool found = false;
  std::string text;
};

// Waits up to timeoutMs for a top-level window with this caption, reads the
// box's text and closes it with OK.
BoxText WaitForBoxAndClose(const char* caption, int timeoutMs);

}  // namespace twtest
