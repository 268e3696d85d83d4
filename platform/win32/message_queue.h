// One message queue per thread: posted messages and user input in arrival
// order, messages sent from other threads, the quit request, and the
// "changed since last looked at" bits of MsgWaitForMultipleObjects.
//
// Thread contract: Post, Send, Wake and Reply may be called from any thread;
// everything else only by the owning thread. The queue's eventfd is readable
// whenever something arrived since the owner last called ClearWake().
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_set>

namespace twplat {

class MessageQueue;

// A message sent from one thread to a window of another; the sender waits
// until done.
struct SentMessage {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  LRESULT result = 0;
  std::atomic<bool> done{false};
  std::shared_ptr<MessageQueue> sender;
};

// Which posted messages a caller takes: all (no window), or those of a set of
// windows (a window and its children), within a message range (0, 0 = all).
struct MessageFilter {
  bool anyWindow = true;
  std::unordered_set<HWND> windows;
  UINT first = 0;
  UINT last = 0;
};

class MessageQueue {
 public:
  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  int wakeFd() const { return fd_; }

  // queueBits: QS_POSTMESSAGE for a posted message, a QS_ input bit for user
  // input. False once the owning thread has ended.
  bool Post(const MSG& message, DWORD queueBits);
  bool Send(const std::shared_ptr<SentMessage>& message);
  void Wake();
  // Completes a sent message and wakes its sender.
  static void Reply(SentMessage& message, LRESULT result);

  void PostQuit(int exitCode);
  void ClearWake();
  // Handles every inbound sent message; returns true when there was one.
  bool DeliverSentMessages();
  // The first posted message that matches, else WM_QUIT when a quit was
  // requested (it matches any filter, as on Windows).
  bool Take(const MessageFilter& filter, bool remove, MSG* out);
  // True (and the bits cleared) when something in mask arrived since the
  // queue was last examined.
  bool TakeChanges(DWORD mask);
  // Drops the posted messages of windows that are gone.
  void DropMessagesOf(const std::unordered_set<HWND>& windows);
  void ForgetChanges();

  // A thread that owns windows is a user-interface thread: its idle waits go
  // through the host.
  void AddWindow() { windows_.fetch_add(1); }
  void RemoveWindow() { windows_.fetch_sub(1); }
  bool ownsWindows() const { return windows_.load() > 0; }

  // The owning thread ends: pending sends are answered with 0, later posts
  // and sends fail.
  void Shutdown();

 private:
  struct Entry {
    MSG message;
    DWORD bits;
  };

  std::mutex mutex_;
  std::deque<Entry> posted_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  DWORD changes_ = 0;
  bool quit_ = false;
  int quitCode_ = 0;
  bool ended_ = false;
  std::atomic<int> windows_{0};
  int fd_;
};

// The calling thread's queue, made on first use.
std::shared_ptr<MessageQueue> CurrentQueue();
// The calling thread's queue, or null when it has none yet.
MessageQueue* ExistingQueue();

// Waits until the queue's eventfd or one of extraFds is readable, or timeoutMs
// passes. A thread that owns windows waits through the host. Returns the
// index into extraFds of a readable one, extraCount for the queue, -1 for a
// time-out (or an early return of the host), -2 on failure.
int WaitOnQueue(MessageQueue& queue, const int* extraFds, int extraCount, DWORD timeoutMs);

// A time limit in milliseconds on the monotonic clock; INFINITE never passes.
class Deadline {
 public:
  explicit Deadline(DWORD timeoutMs);
  DWORD Remaining() const;  // INFINITE, or the milliseconds left (0 once passed)

 private:
  bool infinite_;
  unsigned long long end_;
};

}  // namespace twplat
