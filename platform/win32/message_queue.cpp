// Per-thread message queues.
#include "message_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "host.h"
#include "kernel_object.h"
#include "window_table.h"

namespace twplat {
namespace {

// Owns the thread's queue; at thread end its windows go and waiting senders
// are released.
struct ThreadQueueHolder {
  std::shared_ptr<MessageQueue> queue;
  ~ThreadQueueHolder() {
    if (queue) {
      queue->Shutdown();
      RemoveWindowsOf(queue.get());
    }
  }
};

thread_local ThreadQueueHolder threadQueue;

bool Matches(const MessageFilter& filter, const MSG& message) {
  if (!filter.anyWindow && filter.windows.count(message.hwnd) == 0) {
    return false;
  }
  if (filter.first == 0 && filter.last == 0) {
    return true;
  }
  return message.message >= filter.first && message.message <= filter.last;
}

}  // namespace

MessageQueue::MessageQueue() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

MessageQueue::~MessageQueue() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void MessageQueue::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(fd_, &one, sizeof one);
}

void MessageQueue::ClearWake() {
  std::uint64_t value = 0;
  [[maybe_unused]] ssize_t got = ::read(fd_, &value, sizeof value);
}

bool MessageQueue::Post(const MSG& message, DWORD queueBits) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) {
      return false;
    }
    posted_.push_back({message, queueBits});
    changes_ |= queueBits;
  }
  Wake();
  return true;
}

bool MessageQueue::Send(const std::shared_ptr<SentMessage>& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) {
      return false;
    }
    sent_.push_back(message);
    changes_ |= QS_SENDMESSAGE;
  }
  Wake();
  return true;
}

void MessageQueue::Reply(SentMessage& message, LRESULT result) {
  message.result = result;
  message.done.store(true, std::memory_order_release);
  message.sender->Wake();
}

void MessageQueue::PostQuit(int exitCode) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    quitCode_ = exitCode;
    changes_ |= QS_POSTMESSAGE;
  }
  Wake();
}

bool MessageQueue::DeliverSentMessages() {
  bool any = false;
  for (;;) {
    std::shared_ptr<SentMessage> message;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (sent_.empty()) {
        return any;
      }
      message = sent_.front();
      sent_.pop_front();
    }
    any = true;
    LRESULT result = 0;
    if (IsOwnedByCallingThread(message->window)) {
      result =
          CallWindowProcedure(message->window, message->message, message->wParam, message->lParam);
    }
    Reply(*message, result);
  }
}

bool MessageQueue::Take(const MessageFilter& filter, bool remove, MSG* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto entry = posted_.begin(); entry != posted_.end(); ++entry) {
    if (Matches(filter, entry->message)) {
      *out = entry->message;
      if (remove) {
        posted_.erase(entry);
      }
      return true;
    }
  }
  if (quit_) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, 0, {0, 0}};
    if (remove) {
      quit_ = false;
    }
    return true;
  }
  return false;
}

bool MessageQueue::TakeChanges(DWORD mask) {
  std::lock_guard<std::mutex> lock(mutex_);
  if ((changes_ & mask) == 0) {
    return false;
  }
  changes_ = 0;
  return true;
}

void MessageQueue::DropMessagesOf(const std::unordered_set<HWND>& windows) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(posted_,
                [&](const Entry& entry) { return windows.count(entry.message.hwnd) != 0; });
}

void MessageQueue::ForgetChanges() {
  std::lock_guard<std::mutex> lock(mutex_);
  changes_ = 0;
}

void MessageQueue::Shutdown() {
  std::deque<std::shared_ptr<SentMessage>> waiting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    waiting.swap(sent_);
    posted_.clear();
  }
  for (auto& message : waiting) {
    Reply(*message, 0);
  }
}

std::shared_ptr<MessageQueue> CurrentQueue() {
  if (!threadQueue.queue) {
    threadQueue.queue = std::make_shared<MessageQueue>();
  }
  return threadQueue.queue;
}

MessageQueue* ExistingQueue() { return threadQueue.queue.get(); }

int WaitOnQueue(MessageQueue& queue, const int* extraFds, int extraCount, DWORD timeoutMs) {
  constexpr int kMaxFds = 64;
  if (extraCount < 0 || extraCount >= kMaxFds) {
    return -2;
  }
  int fds[kMaxFds];
  for (int i = 0; i < extraCount; ++i) {
    fds[i] = extraFds[i];
  }
  fds[extraCount] = queue.wakeFd();
  if (queue.ownsWindows()) {
    return CurrentHost().WaitIdle(fds, extraCount + 1, timeoutMs);
  }
  return WaitForFds(fds, extraCount + 1, timeoutMs);
}

Deadline::Deadline(DWORD timeoutMs)
    : infinite_(timeoutMs == INFINITE), end_(MonotonicMs() + timeoutMs) {}

DWORD Deadline::Remaining() const {
  if (infinite_) {
    return INFINITE;
  }
  unsigned long long now = MonotonicMs();
  return now >= end_ ? 0 : static_cast<DWORD>(end_ - now);
}

}  // namespace twplat
