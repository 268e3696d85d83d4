// Collects what the built-in output plays, from the moment it is made until
// it goes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/dsound/builtin/output_tap.h"

namespace twtest {

class OutputRecorder : public twplat::BuiltinOutputTap {
 public:
  OutputRecorder();
  ~OutputRecorder() override;
  OutputRecorder(const OutputRecorder&) = delete;
  OutputRecorder& operator=(const OutputRecorder&) = delete;

  void Played(const BYTE* bytes, DWORD count, const WAVEFORMATEX& format) override;

  // Everything played so far.
  std::vector<BYTE> played();
  // Everything played once there are at least count bytes, or after about
  // five seconds of waiting for them.
  std::vector<BYTE> WaitFor(size_t count);

 private:
  std::mutex mutex_;
  std::vector<BYTE> played_;
};

}  // namespace twtest
