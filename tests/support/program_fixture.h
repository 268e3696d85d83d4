// Runs the whole program in-process: WinMain on a user-interface thread of
// its own, with the built-in sound devices, and a TestHost through which a
// test reads the window and gives the user's input from the test thread.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "res/resource.h"
#include "tests/support/test_host.h"

namespace twtest {

// Generous: every wait ends as soon as its condition holds.
inline constexpr int kWaitMs = 10000;

// Polls done until it holds; false after kWaitMs.
bool WaitUntil(const std::function<bool()>& done);

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  HWND Item(int id) const { return GetDlgItem(window_, id); }
  twplat::WindowState StateOf(int id) const;
  bool Enabled(int id) const { return StateOf(id).enabled; }
  std::string Status() const { return StateOf(IDC_STATUS).text; }

  bool WaitStatus(const std::string& text) const;
  bool WaitEnabled(int id, bool enabled) const;
  bool Click(int id) { return TestHost::Click(window_, id); }
  bool Replace(int id, const char* text) { return TestHost::Replace(window_, id, text); }

  // Clicks a role button and waits until the role is applied.
  void ChooseServer();
  void ChooseClient();
  // Sets the port field and presses Start; the Server is then listening.
  void StartServer(int port);
  // A Client run to 127.0.0.1:port.
  void StartClient(int port);
  // A Client run whose connect is refused: waits for the worker's
  // "Connect" box, which stays open while the test holds boxes.
  void StartRefusedClient();
  // The controls a run switches: Start, Stop, Client and Server.
  bool ShowsRunningLook() const;
  bool ShowsIdleLook() const;
  // The end of StopRun's reset: the idle look and the Idle state.
  bool WaitForIdle() const;
  // The main window takes input again (an owned box or dialog has closed).
  bool WaitWindowEnabled() const;
  bool WaitGone(HWND window) const;
  // Lets the modal loop handle what is queued before it: a sent message is
  // handled only between two queued ones.
  void SyncWithWindow() const { SendMessageA(window_, WM_NULL, 0, 0); }

  // Runs WinMain on a new user-interface thread and waits for its window
  // (SetUp does this once); CloseProgram closes the window as its close
  // box would and waits for WinMain to return.
  void StartProgram();
  void CloseProgram();

  // Waits for the program (WinMain) to end; false after kWaitMs.
  bool WaitForProgramEnd();
  bool WorkerEnded(int timeoutMs) const;

  TestHost host_;
  HWND window_ = nullptr;

 private:
  std::thread ui_;
  HANDLE programEnded_ = nullptr;
};

}  // namespace twtest
