// The host shows what the window system holds (windows, controls, message
// boxes) and feeds the user's input back. One host serves the process; the
// headless host is in place until another is installed.
//
// Thread contract: every callback runs on the thread that made the change
// (a worker may change a control's state, or open a box); a host that needs
// its own thread forwards the notification there.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

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

class Host {
 public:
  virtual ~Host() = default;

  // A box has opened on the calling thread; the host shows it and calls
  // box->Close() when the user answers, now or later, from any thread.
  virtual void MessageBoxOpened(const std::shared_ptr<MessageBoxRecord>& box) = 0;

  // The user-interface thread's idle wait: returns the index of a readable fd,
  // -1 on time-out, -2 on failure. A desktop host runs its event loop here.
  virtual int WaitIdle(const int* fds, int count, DWORD timeoutMs);
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
