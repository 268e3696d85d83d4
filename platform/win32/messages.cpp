// Posting, sending, retrieving and dispatching messages, and the wait on
// kernel objects plus the message queue.
#include "kernel_object.h"
#include "message_queue.h"
#include "window_table.h"

namespace twplat {
namespace {

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return MSG{window, message, wParam, lParam, static_cast<DWORD>(MonotonicMs()), {0, 0}};
}

// A window filter takes the window's messages and those of its children.
bool MakeFilter(HWND window, UINT first, UINT last, MessageFilter* filter) {
  filter->first = first;
  filter->last = last;
  if (window == nullptr) {
    return true;
  }
  std::vector<HWND> tree = WindowAndDescendants(window);
  if (tree.empty()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  filter->anyWindow = false;
  filter->windows.insert(tree.begin(), tree.end());
  return true;
}

// Sent messages are delivered first, and looking at the queue makes what is
// in it no longer new for MsgWaitForMultipleObjects.
bool PeekQueue(MessageQueue& queue, const MessageFilter& filter, bool remove, MSG* out) {
  queue.DeliverSentMessages();
  queue.ForgetChanges();
  return queue.Take(filter, remove, out);
}

LRESULT SendAcrossThreads(const std::shared_ptr<MessageQueue>& target, HWND window, UINT message,
                          WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<MessageQueue> own = CurrentQueue();
  auto sent = std::make_shared<SentMessage>();
  sent->window = window;
  sent->message = message;
  sent->wParam = wParam;
  sent->lParam = lParam;
  sent->sender = own;
  if (!target->Send(sent)) {
    return 0;
  }
  // While it waits, the sender handles what other threads send to it, so two
  // threads sending to each other do not deadlock.
  for (;;) {
    own->ClearWake();
    own->DeliverSentMessages();
    if (sent->done.load(std::memory_order_acquire)) {
      return sent->result;
    }
    WaitOnQueue(*own, nullptr, 0, INFINITE);
  }
}

bool ValidWaitHandles(DWORD count, const HANDLE* handles, KernelObject** objects) {
  if (count >= 64 || (count > 0 && handles == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = ObjectFromHandle(handles[i]);
    if (objects[i] == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
  }
  return true;
}

}  // namespace
}  // namespace twplat

using twplat::MessageQueue;

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Unlike Windows, a null window is refused instead of becoming a message to
  // the calling thread, which nobody here would ever read.
  std::shared_ptr<MessageQueue> queue = twplat::QueueOf(window);
  if (!queue) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!queue->Post(twplat::MakeMessage(window, message, wParam, lParam), QS_POSTMESSAGE)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<MessageQueue> queue = twplat::QueueOf(window);
  if (!queue) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (queue.get() == twplat::ExistingQueue()) {
    return twplat::CallWindowProcedure(window, message, wParam, lParam);
  }
  return twplat::SendAcrossThreads(queue, window, message, wParam, lParam);
}

BOOL WINAPI PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax,
                         UINT removeMessage) {
  twplat::MessageFilter filter;
  if (message == nullptr || !twplat::MakeFilter(window, filterMin, filterMax, &filter)) {
    return FALSE;
  }
  std::shared_ptr<MessageQueue> queue = twplat::CurrentQueue();
  return twplat::PeekQueue(*queue, filter, (removeMessage & PM_REMOVE) != 0, message) ? TRUE
                                                                                      : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
  twplat::MessageFilter filter;
  if (message == nullptr || !twplat::MakeFilter(window, filterMin, filterMax, &filter)) {
    return -1;
  }
  std::shared_ptr<MessageQueue> queue = twplat::CurrentQueue();
  for (;;) {
    queue->ClearWake();
    if (twplat::PeekQueue(*queue, filter, true, message)) {
      return message->message == WM_QUIT ? FALSE : TRUE;
    }
    twplat::WaitOnQueue(*queue, nullptr, 0, INFINITE);
  }
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG* message) {
  if (message == nullptr || message->hwnd == nullptr) {
    return 0;
  }
  if (!twplat::IsOwnedByCallingThread(message->hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return twplat::CallWindowProcedure(message->hwnd, message->message, message->wParam,
                                     message->lParam);
}

void WINAPI PostQuitMessage(int exitCode) { twplat::CurrentQueue()->PostQuit(exitCode); }

// Windows' "new input" rule: only what arrived since the queue was last
// looked at wakes the wait. Messages sent from other threads are handled
// during the wait without ending it (unless the mask asks for
// QS_SENDMESSAGE), so a worker's synchronous status update never stalls the
// waiting thread nor restarts its time-out. Only waitAll = FALSE is offered.
DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                       DWORD milliseconds, DWORD wakeMask) {
  twplat::KernelObject* objects[64];
  if (waitAll) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (!twplat::ValidWaitHandles(count, handles, objects)) {
    return WAIT_FAILED;
  }
  int fds[64];
  for (DWORD i = 0; i < count; ++i) {
    fds[i] = objects[i]->waitFd();
  }
  std::shared_ptr<MessageQueue> queue = twplat::CurrentQueue();
  twplat::Deadline deadline(milliseconds);
  for (;;) {
    queue->ClearWake();
    queue->DeliverSentMessages();
    for (DWORD i = 0; i < count; ++i) {
      if (objects[i]->TryAcquire()) {
        return WAIT_OBJECT_0 + i;
      }
    }
    if (queue->TakeChanges(wakeMask)) {
      return WAIT_OBJECT_0 + count;
    }
    DWORD left = deadline.Remaining();
    if (left == 0) {
      return WAIT_TIMEOUT;
    }
    if (twplat::WaitOnQueue(*queue, fds, static_cast<int>(count), left) == -2) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
}
