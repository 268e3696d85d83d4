// MessageBoxA: the box goes to the host; the calling thread waits until the
// box is closed.
#include "host.h"
#include "kernel_object.h"
#include "message_queue.h"

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

}  // namespace twplat

namespace {

using twplat::MessageBoxRecord;

// A worker simply blocks until the box is closed.
int WaitForMessageBox(MessageBoxRecord& box) {
  while (!box.closed()) {
    int fd = box.closedFd();
    twplat::WaitForFds(&fd, 1, INFINITE);
  }
  return box.result();
}

// The answer of a box that a quit request ended: its cancel button, or OK
// when it has none.
int AnswerWithoutUser(UINT style) {
  UINT buttons = style & MB_TYPEMASK;
  return buttons == MB_OK ? IDOK : IDCANCEL;
}

// On the user-interface thread the box is a nested modal loop: the thread's
// messages, posted and sent, keep being dispatched until the box closes. A
// quit request closes the box and is posted again for the loop outside.
int RunMessageBoxLoop(MessageBoxRecord& box) {
  std::shared_ptr<twplat::MessageQueue> queue = twplat::CurrentQueue();
  while (!box.closed()) {
    queue->ClearWake();
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        box.Close(AnswerWithoutUser(box.style()));
        break;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
      continue;
    }
    int closed = box.closedFd();
    twplat::WaitOnQueue(*queue, &closed, 1, INFINITE);
  }
  return box.result();
}

// MB_APPLMODAL: the owner is disabled while the box is open, and enabled
// again only if the box disabled it.
class OwnerDisabled {
 public:
  explicit OwnerDisabled(HWND owner)
      : owner_(owner != nullptr && IsWindowEnabled(owner) ? owner : nullptr) {
    if (owner_ != nullptr) {
      EnableWindow(owner_, FALSE);
    }
  }
  ~OwnerDisabled() {
    if (owner_ != nullptr) {
      EnableWindow(owner_, TRUE);
    }
  }
  OwnerDisabled(const OwnerDisabled&) = delete;
  OwnerDisabled& operator=(const OwnerDisabled&) = delete;

 private:
  HWND owner_;
};

}  // namespace

// An owner that is not a window is ignored rather than failing the call: the
// box still shows its message.
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  auto box = std::make_shared<MessageBoxRecord>(owner, text != nullptr ? text : "",
                                                caption != nullptr ? caption : "Error", type);
  int result = 0;
  {
    OwnerDisabled disabled(owner);
    twplat::CurrentHost().MessageBoxOpened(box);
    twplat::MessageQueue* queue = twplat::ExistingQueue();
    result = queue != nullptr && queue->ownsWindows() ? RunMessageBoxLoop(*box)
                                                      : WaitForMessageBox(*box);
  }
  twplat::CurrentHost().MessageBoxClosed(box);
  return result;
}
