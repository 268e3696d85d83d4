// MessageBoxA: the box goes to the host; the calling thread waits until the
// box is closed.
#include "host.h"
#include "kernel_object.h"

namespace twplat {

MessageBoxRecord::MessageBoxRecord(HWND owner, std::string text, std::string caption, UINT style)
    : owner_(owner),
      text_(std::move(text)),
      caption_(std::move(caption)),
      style_(style),
      threadId_(GetCurrentThreadId()),
      closedEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

MessageBoxRecord::~MessageBoxRecord() {
  if (closedEvent_ != nullptr) {
    CloseHandle(closedEvent_);
  }
}

void MessageBoxRecord::Close(int result) {
  int expected = 0;
  if (result_.compare_exchange_strong(expected, result)) {
    SetEvent(closedEvent_);
  }
}

bool MessageBoxRecord::closed() const { return result_.load() != 0; }

int MessageBoxRecord::result() const { return result_.load(); }

int MessageBoxRecord::closedFd() const { return ObjectFromHandle(closedEvent_)->waitFd(); }

// Waits for the box to close. A worker thread simply blocks.
int WaitForMessageBox(MessageBoxRecord& box) {
  while (!box.closed()) {
    int fd = box.closedFd();
    WaitForFds(&fd, 1, INFINITE);
  }
  return box.result();
}

}  // namespace twplat

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  auto box = std::make_shared<twplat::MessageBoxRecord>(owner, text != nullptr ? text : "",
                                                        caption != nullptr ? caption : "Error", type);
  twplat::CurrentHost().MessageBoxOpened(box);
  return twplat::WaitForMessageBox(*box);
}
