#include "audio/pcm_ramp.h"

#include <cstdint>

namespace {

// A span's two regions seen as one run of bytes.
class SpanBytes {
 public:
  explicit SpanBytes(const RingSpan& span)
      : first_(static_cast<BYTE*>(span.region1)),
        second_(static_cast<BYTE*>(span.region2)),
        firstBytes_(static_cast<LONG>(span.bytes1)) {}

  BYTE& at(LONG index) const {
    return index < firstBytes_ ? first_[index] : second_[index - firstBytes_];
  }

 private:
  BYTE* first_;
  BYTE* second_;
  LONG firstBytes_;
};

std::int32_t ReadSample(const SpanBytes& bytes, LONG at, LONG size) {
  if (size == 1) {
    return static_cast<std::int32_t>(bytes.at(at)) - 128;
  }
  std::uint32_t value = 0;
  for (LONG i = 0; i < size; ++i) {
    value |= static_cast<std::uint32_t>(bytes.at(at + i)) << (8 * i);
  }
  const int unused = 32 - 8 * static_cast<int>(size);
  return static_cast<std::int32_t>(value << unused) >> unused;  // sign-extended
}

void WriteSample(const SpanBytes& bytes, LONG at, LONG size, std::int32_t sample) {
  if (size == 1) {
    bytes.at(at) = static_cast<BYTE>(sample + 128);
    return;
  }
  const auto value = static_cast<std::uint32_t>(sample);
  for (LONG i = 0; i < size; ++i) {
    bytes.at(at + i) = static_cast<BYTE>(value >> (8 * i));
  }
}

// Gain of a ramp step, in 1/65536.
std::int64_t GainAt(const RampShape& shape, LONG step) {
  if (step >= shape.steps) {
    return shape.rising ? 65536 : 0;
  }
  const std::int64_t rise = (static_cast<std::int64_t>(step) << 16) / shape.steps;
  return shape.rising ? rise : 65536 - rise;
}

}  // namespace

LONG RampFrames(const RingSpan& span, const RampShape& shape) {
  if (shape.frameBytes <= 0 || shape.sampleBytes <= 0 || shape.sampleBytes > 4 ||
      shape.steps <= 0) {
    return 0;
  }
  const SpanBytes bytes(span);
  const LONG frames = span.bytes() / shape.frameBytes;
  for (LONG frame = 0; frame < frames; ++frame) {
    const std::int64_t gain = GainAt(shape, shape.firstStep + frame);
    if (shape.rising && gain == 65536) {
      break;  // the rest keeps its level
    }
    const LONG start = frame * shape.frameBytes;
    for (LONG at = start; at + shape.sampleBytes <= start + shape.frameBytes;
         at += shape.sampleBytes) {
      const std::int64_t scaled = ReadSample(bytes, at, shape.sampleBytes) * gain / 65536;
      WriteSample(bytes, at, shape.sampleBytes, static_cast<std::int32_t>(scaled));
    }
  }
  return frames;
}
