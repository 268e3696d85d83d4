// A COM object's reference count: one at creation, changed by any thread.
// Release deletes the object when Drop gives 0.
#pragma once

#include <windows.h>

#include <atomic>

namespace twplat::sound {

class RefCount {
 public:
  ULONG Add() { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // acq_rel: everything done through the object happens before its deletion.
  ULONG Drop() { return references_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

 private:
  std::atomic<ULONG> references_{1};
};

}  // namespace twplat::sound
