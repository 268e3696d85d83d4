// Records what the built-in "Silent output" device plays, from its
// installation until its destruction.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/dsound/builtin/output_tap.h"

namespace twtest {

class OutputRecorder : public twplat::BuiltinOutputTap {
 public:
  OutputRecorder() { twplat::SetBuiltinOutputTap(this); }
  ~OutputRecorder() override { twplat::SetBuiltinOutputTap(nullptr); }
  OutputRecorder(const OutputRecorder&) = delete;
  OutputRecorder& operator=(const OutputRecorder&) = delete;

  void Played(const BYTE* bytes, DWORD count, const WAVEFORMATEX&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    played_.insert(played_.end(), bytes, bytes + count);
  }

  size_t ByteCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return played_.size();
  }

  // The played bytes as little-endian 32-bit words, one per 16-bit stereo frame.
  std::vector<std::uint32_t> Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint32_t> frames;
    for (size_t i = 0; i + 4 <= played_.size(); i += 4) {
      frames.push_back(static_cast<std::uint32_t>(played_[i]) |
                       static_cast<std::uint32_t>(played_[i + 1]) << 8 |
                       static_cast<std::uint32_t>(played_[i + 2]) << 16 |
                       static_cast<std::uint32_t>(played_[i + 3]) << 24);
    }
    return frames;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<BYTE> played_;
};

}  // namespace twtest
