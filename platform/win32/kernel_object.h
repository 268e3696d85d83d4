// Kernel objects behind HANDLE values, shared by the kernel calls and the
// message-queue waits of the window system.
//
// Every waitable object owns one eventfd that is readable exactly while the
// object is signalled, so any wait (one handle, several handles plus a
// message queue, or a GUI toolkit's event loop) is a poll() on file
// descriptors. Signalling is one write(): no lock, no allocation, safe from an
// audio callback.
#pragma once

#include <windows.h>

#include <atomic>

namespace twplat {

class KernelObject {
 public:
  enum class Kind { kEvent, kThread };

  KernelObject(Kind kind, bool manualReset);
  virtual ~KernelObject();
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  Kind kind() const { return kind_; }
  // Readable while signalled; valid for the object's life.
  int waitFd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  void Signal();
  void Reset();
  // Takes the signal if the object is signalled: an auto-reset object is reset
  // by it, a manual-reset one stays signalled. Never blocks.
  bool TryAcquire();

  void AddRef();
  void Release();

 private:
  const Kind kind_;
  const bool manualReset_;
  int fd_;
  std::atomic<int> references_{1};
};

// The object behind a handle, or null for a handle that is not a kernel object.
KernelObject* ObjectFromHandle(HANDLE handle);

// Waits until one of fds is readable or timeoutMs passes (INFINITE = no limit).
// Returns the index of a readable fd, -1 on time-out, -2 on failure.
// Wakes early only for the fds; the caller re-checks its own conditions.
int WaitForFds(const int* fds, int count, DWORD timeoutMs);

// Milliseconds on the monotonic clock.
unsigned long long MonotonicMs();

}  // namespace twplat
