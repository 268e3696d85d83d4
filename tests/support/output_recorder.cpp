#include "tests/support/output_recorder.h"

#include <chrono>
#include <thread>

namespace twtest {

OutputRecorder::OutputRecorder() { twplat::SetBuiltinOutputTap(this); }

OutputRecorder::~OutputRecorder() { twplat::SetBuiltinOutputTap(nullptr); }

void OutputRecorder::Played(const BYTE* bytes, DWORD count, const WAVEFORMATEX&) {
  std::lock_guard<std::mutex> lock(mutex_);
  played_.insert(played_.end(), bytes, bytes + count);
}

std::vector<BYTE> OutputRecorder::played() {
  std::lock_guard<std::mutex> lock(mutex_);
  return played_;
}

std::vector<BYTE> OutputRecorder::WaitFor(size_t count) {
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (played_.size() >= count) {
        return played_;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return played();
}

}  // namespace twtest
