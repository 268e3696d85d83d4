// Threads, events, waits and the last-error value.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "host.h"
#include "kernel_object.h"

namespace twplat {
namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

class ThreadObject : public KernelObject {
 public:
  ThreadObject(LPTHREAD_START_ROUTINE start, LPVOID parameter)
      : KernelObject(Kind::kThread, true), start_(start), parameter_(parameter) {}

  // Runs on the new thread; the thread holds its own reference until it ends.
  void Run() {
    tid_.store(static_cast<int>(::syscall(SYS_gettid)));
    ApplyPriority();
    exitCode_.store(start_(parameter_));
    finished_.store(true);
    Signal();
    Release();
  }

  void SetPriority(int priority) {
    priority_.store(priority);
    ApplyPriority();
  }

  bool finished(DWORD* code) const {
    *code = exitCode_.load();
    return finished_.load();
  }

 private:
  // Windows' relative priorities map onto nice values; an unprivileged
  // process may not raise its priority, and that refusal is ignored.
  void ApplyPriority() {
    int tid = tid_.load();
    if (tid != 0) {
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -2 * priority_.load());
    }
  }

  LPTHREAD_START_ROUTINE start_;
  LPVOID parameter_;
  std::atomic<int> tid_{0};
  std::atomic<int> priority_{0};
  std::atomic<DWORD> exitCode_{0};
  std::atomic<bool> finished_{false};
};

class EventObject : public KernelObject {
 public:
  explicit EventObject(bool manualReset) : KernelObject(Kind::kEvent, manualReset) {}
};

}  // namespace

KernelObject::KernelObject(Kind kind, bool manualReset)
    : kind_(kind), manualReset_(manualReset), fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

KernelObject::~KernelObject() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void KernelObject::Signal() {
  const std::uint64_t one = 1;
  // A full counter (never reached here) would only mean "already signalled".
  [[maybe_unused]] ssize_t written = ::write(fd_, &one, sizeof one);
}

void KernelObject::Reset() {
  std::uint64_t value = 0;
  [[maybe_unused]] ssize_t got = ::read(fd_, &value, sizeof value);
}

bool KernelObject::TryAcquire() {
  if (manualReset_) {
    pollfd entry{fd_, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
  }
  std::uint64_t value = 0;
  return ::read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

void KernelObject::AddRef() { references_.fetch_add(1, std::memory_order_relaxed); }

void KernelObject::Release() {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete this;
  }
}

namespace {

// Kernel handles start above 4 GiB, away from window handles (which count up
// from 0x10000), and step by 4 like Windows' handles; never 0, never reused.
constexpr std::uintptr_t kFirstKernelHandle = std::uintptr_t{1} << 32;

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, KernelObject*> objects;
  std::uintptr_t nextHandle = kFirstKernelHandle;
};

// Never destroyed: a detached worker may still close its handles while exit()
// runs the static destructors.
HandleTable& Handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

// Takes the handle out of the table; the caller drops the table's reference.
KernelObject* RemoveHandle(HANDLE handle) {
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found == table.objects.end()) {
    return nullptr;
  }
  KernelObject* object = found->second;
  table.objects.erase(found);
  return object;
}

}  // namespace

HANDLE AddHandle(KernelObject* object) {
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.nextHandle += 4;
  table.objects.emplace(table.nextHandle, object);
  return reinterpret_cast<HANDLE>(table.nextHandle);
}

ObjectReference::ObjectReference(HANDLE handle) : object_(nullptr) {
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found != table.objects.end()) {
    object_ = found->second;
    object_->AddRef();
  }
}

ObjectReference::~ObjectReference() {
  if (object_ != nullptr) {
    object_->Release();
  }
}

KernelObject* ObjectFromHandle(HANDLE handle) {
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == table.objects.end() ? nullptr : found->second;
}

unsigned long long MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<unsigned long long>(now.tv_sec) * 1000ULL +
         static_cast<unsigned long long>(now.tv_nsec) / 1000000ULL;
}

int WaitForFds(const int* fds, int count, DWORD timeoutMs) {
  pollfd entries[64];
  if (count < 0 || count > 64) {
    return -2;
  }
  for (int i = 0; i < count; ++i) {
    entries[i] = pollfd{fds[i], POLLIN, 0};
  }
  const unsigned long long deadline = MonotonicMs() + timeoutMs;
  for (;;) {
    int wait = -1;
    if (timeoutMs != INFINITE) {
      unsigned long long now = MonotonicMs();
      wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
    }
    int ready = ::poll(entries, static_cast<nfds_t>(count), wait);
    if (ready > 0) {
      for (int i = 0; i < count; ++i) {
        if (entries[i].revents != 0) {
          return i;
        }
      }
    }
    if (ready == 0) {
      return -1;
    }
    if (ready < 0 && errno != EINTR) {
      return -2;
    }
  }
}

}  // namespace twplat

using twplat::KernelObject;
using twplat::ObjectReference;

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE startAddress,
                           LPVOID parameter, DWORD, LPDWORD threadId) {
  if (startAddress == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* thread = new twplat::ThreadObject(startAddress, parameter);
  if (!thread->valid()) {
    thread->Release();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  thread->AddRef();  // the running thread's own reference
  HANDLE handle = twplat::AddHandle(thread);
  std::thread([thread] { thread->Run(); }).detach();
  if (threadId != nullptr) {
    *threadId = 0;
  }
  return handle;
}

BOOL WINAPI SetThreadPriority(HANDLE handle, int priority) {
  ObjectReference object(handle);
  if (!object || object.get()->kind() != KernelObject::Kind::kThread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  static_cast<twplat::ThreadObject*>(object.get())->SetPriority(priority);
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId() { return static_cast<DWORD>(::syscall(SYS_gettid)); }

BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  ObjectReference object(handle);
  if (!object || object.get()->kind() != KernelObject::Kind::kThread || exitCode == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD code = 0;
  bool done = static_cast<twplat::ThreadObject*>(object.get())->finished(&code);
  *exitCode = done ? code : 259;  // STILL_ACTIVE
  return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
  auto* event = new twplat::EventObject(manualReset != FALSE);
  if (!event->valid()) {
    event->Release();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (initialState) {
    event->Signal();
  }
  return twplat::AddHandle(event);
}

namespace {
bool IsEvent(const ObjectReference& object) {
  if (!object || object.get()->kind() != KernelObject::Kind::kEvent) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}
}  // namespace

BOOL WINAPI SetEvent(HANDLE handle) {
  ObjectReference event(handle);
  if (!IsEvent(event)) {
    return FALSE;
  }
  event.get()->Signal();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE handle) {
  ObjectReference event(handle);
  if (!IsEvent(event)) {
    return FALSE;
  }
  event.get()->Reset();
  return TRUE;
}

// The wait holds its own reference, so a handle closed by another thread
// meanwhile leaves the object alive until the wait ends.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  ObjectReference reference(handle);
  KernelObject* object = reference.get();
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  const unsigned long long start = twplat::MonotonicMs();
  for (;;) {
    if (object->TryAcquire()) {
      return WAIT_OBJECT_0;
    }
    DWORD left = milliseconds;
    if (milliseconds != INFINITE) {
      unsigned long long spent = twplat::MonotonicMs() - start;
      if (spent >= milliseconds) {
        return WAIT_TIMEOUT;
      }
      left = static_cast<DWORD>(milliseconds - spent);
    }
    int fd = object->waitFd();
    const int result = twplat::WaitForFds(&fd, 1, left);
    if (result == -2) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    // A time-out ends the wait without asking the object again: a reader
    // that polls every few milliseconds would otherwise pay a second system
    // call on every pass. When it was ready, the next pass takes the signal.
    if (result == -1 && milliseconds != INFINITE) {
      return WAIT_TIMEOUT;
    }
  }
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  KernelObject* object = twplat::RemoveHandle(handle);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->Release();
  return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void WINAPI OutputDebugStringA(LPCSTR outputString) {
  if (outputString != nullptr) {
    twplat::CurrentHost().DebugOutput(outputString);
  }
}

DWORD WINAPI GetLastError() { return twplat::lastError; }

void WINAPI SetLastError(DWORD errorCode) { twplat::lastError = errorCode; }
