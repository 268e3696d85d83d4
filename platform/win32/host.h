// The host shows what the window system holds (windows, controls, message
// boxes) and feeds the user's input back. One host serves the process; the
// headless host is in place until another is installed.
//
// Thread contract: every callback runs on the thread that made the change
// (a worker may change a control's state, or open a box); a host that needs
// its own thread forwards the notification there. The user's input goes back
// through the functions of input.h.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "resources.h"

namespace twplat {

// One message box, from MessageBoxA until the user (or a test) closes it.
class MessageBoxRecord {
 public:
  MessageBoxRecord(HWND owner, std::string text, std::string caption, UINT style);
  ~MessageBoxRecord();
  MessageBoxRecord(const MessageBoxRecord&) = delete;
  MessageBoxRecord& operator=(const MessageBoxRecord&) = delete;

  HWND owner() const { return owner_; }
  const std::string& text() const { return text_; }
  const std::string& caption() const { return caption_; }
  UINT style() const { return style_; }
  DWORD threadId() const { return threadId_; }

  // Ends the box with the button the user chose (IDOK, IDCANCEL). Any thread;
  // only the first call counts.
  void Close(int result);
  bool closed() const;
  int result() const;
  // Readable once the box is closed.
  int closedFd() const;

 private:
  HWND owner_;
  std::string text_;
  std::string caption_;
  UINT style_;
  DWORD threadId_;
  HANDLE closedEvent_;
  std::atomic<int> result_{0};
};

// What a host needs to build a window, from the dialog template it comes
// from. Positions and sizes are in dialog units: a control's relative to its
// dialog's client area, a dialog's relative to its owner's client area (or
// to the screen when it has no owner).
struct WindowDescription {
  HWND handle = nullptr;
  HWND parent = nullptr;  // a control's dialog, or a dialog's owner
  std::string className;  // "#32770" for a dialog
  DWORD style = 0;
  DWORD exStyle = 0;
  int id = 0;
  short x = 0;
  short y = 0;
  short cx = 0;
  short cy = 0;
  WORD templateId = 0;               // dialogs only
  const DialogFont* font = nullptr;  // dialogs only
};

// Everything the window system holds about a window that a user can see.
struct WindowState {
  std::string text;  // caption, label, field or combo-box field text
  bool enabled = true;
  bool visible = true;
  int check = BST_UNCHECKED;
  std::vector<std::string> items;  // combo box entries, in list order
  int selection = -1;              // combo box: index of the chosen entry, -1 none
  int rangeMin = 0;                // progress bar and trackbar
  int rangeMax = 100;
  int position = 0;
  HICON icon = nullptr;       // a dialog's big icon, or an SS_ICON static's image
  HICON smallIcon = nullptr;  // a dialog's small icon
  HWND focus = nullptr;       // a dialog's focused control
};

enum class WindowChange {
  kText,
  kEnabled,
  kVisible,
  kCheck,
  kItems,
  kSelection,
  kRange,
  kPosition,
  kIcon,
  kFocus,
};

class Host {
 public:
  virtual ~Host() = default;

  // Window notifications come in the order the changes were made, each with
  // the window's whole state after the change. They are made while the window
  // system serialises its notifications: return promptly and never wait for
  // another thread here (forward to your own thread instead).
  // A dialog is created hidden, with its controls, before WM_INITDIALOG; it
  // becomes visible when its modal loop first runs out of messages.
  virtual void WindowCreated(const WindowDescription& /*window*/, const WindowState& /*state*/) {}
  virtual void WindowChanged(HWND /*window*/, WindowChange /*what*/, const WindowState& /*state*/) {
  }
  // Controls are reported before their dialog.
  virtual void WindowDestroyed(HWND /*window*/) {}

  // A box has opened on the calling thread; the host shows it and calls
  // box->Close() when the user answers, now or later, from any thread.
  virtual void MessageBoxOpened(const std::shared_ptr<MessageBoxRecord>& box) = 0;
  // The box has closed (by the host, or by the window system when a quit
  // request ended it); called on the thread that opened it, as MessageBoxA
  // returns. A host takes its view of the box down here.
  virtual void MessageBoxClosed(const std::shared_ptr<MessageBoxRecord>& /*box*/) {}

  // The user-interface thread's idle wait: returns the index of a readable fd,
  // -1 on time-out, -2 on failure. A desktop host runs its event loop here.
  // Callers re-check their own conditions and deadline after every return, so
  // returning -1 early (after handling the host's own events) is allowed.
  virtual int WaitIdle(const int* fds, int count, DWORD timeoutMs);

  // OutputDebugStringA's text, from any thread: by default written to
  // stderr, as a debugger attached to the process would show it.
  virtual void DebugOutput(const char* text);
};

// Installs a host for the whole process (null: the headless host). The caller
// keeps ownership and keeps it alive while it is installed.
void SetHost(Host* host);
Host& CurrentHost();

// Writes "CAPTION: TEXT" on stderr for each box and answers OK at once.
class HeadlessHost : public Host {
 public:
  void MessageBoxOpened(const std::shared_ptr<MessageBoxRecord>& box) override;
};

}  // namespace twplat
