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

// Kernel handles live in a table of their own. A handle value is never
// reused, so a closed (stale) handle, a window handle or any other foreign
// value finds nothing instead of reaching freed or unrelated memory.

// Enters an object that carries its creation reference; the table owns that
// reference until CloseHandle. Null when the table cannot grow.
HANDLE AddHandle(KernelObject* object);

// A counted reference to the object behind a handle, taken under the table's
// lock: the object stays alive while the holder lives, even if another
// thread closes the handle meanwhile.
class ObjectReference {
 public:
  explicit ObjectReference(HANDLE handle);
  ~ObjectReference();
  ObjectReference(const ObjectReference&) = delete;
  ObjectReference& operator=(const ObjectReference&) = delete;

  KernelObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  KernelObject* object_;
};

// The object behind an open handle, or null. The pointer is borrowed: it
// stays valid only while the handle stays open (take an ObjectReference, or
// AddRef, to keep it longer).
KernelObject* ObjectFromHandle(HANDLE handle);

// Waits until one of fds is readable or timeoutMs passes (INFINITE = no limit).
// Returns the index of a readable fd, -1 on time-out, -2 on failure.
// Wakes early only for the fds; the caller re-checks its own conditions.
int WaitForFds(const int* fds, int count, DWORD timeoutMs);

// Milliseconds on the monotonic clock.
unsigned long long MonotonicMs();

}  // namespace twplat
