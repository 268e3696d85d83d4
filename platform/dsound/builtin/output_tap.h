// A hook for tests and tools in this process: what the built-in "Silent
// output" device plays, byte for byte.
#pragma once

#include <mmsystem.h>
#include <windows.h>

namespace twplat {

class BuiltinOutputTap {
 public:
  virtual ~BuiltinOutputTap() = default;
  // Called on the built-in devices' clock thread, in playing order, with the
  // bytes as they leave the ring (after the buffer's volume), in the
  // buffer's format. Must not call back into the sound interfaces.
  virtual void Played(const BYTE* bytes, DWORD count, const WAVEFORMATEX& format) = 0;
};

// Installs tap, or removes it with null. When this returns, the previous tap
// is no longer called.
void SetBuiltinOutputTap(BuiltinOutputTap* tap);

}  // namespace twplat
