#include "platform/dsound/drift_correction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace twplat::sound {
namespace {

// The loop is critically damped at 0.1 rad/s (a 63 s period): a 2000 ppm
// difference, present from the start, moves the low point by about 7 ms at
// most and is absorbed within a minute, while a second's jitter moves the
// ratio by far less than a listener could hear.
constexpr double kNaturalRate = 0.1;  // rad/s
constexpr double kIntegralGain = kNaturalRate * kNaturalRate;
constexpr double kProportionalGain = 2 * kNaturalRate;
// Beyond this error the controller only pushes (proportional part at the
// limit) and the integral stands still, so that draining a backlog does not
// wind it up into an underrun afterwards.
constexpr double kLinearRangeSeconds = 0.025;

}  // namespace

DriftCorrection::DriftCorrection(std::uint32_t ringBytes, std::uint32_t bytesPerSecond)
    : bytesPerSecond_(bytesPerSecond > 0 ? bytesPerSecond : 1),
      target_(ringBytes / 4.0 / bytesPerSecond_),
      windowLow_(ringBytes / bytesPerSecond_) {}

double DriftCorrection::Update(std::uint64_t fillBytes, std::uint32_t playedBytes) {
  windowLow_ = std::min(windowLow_, static_cast<double>(fillBytes) / bytesPerSecond_);
  soundSeconds_ += playedBytes / bytesPerSecond_;
  if (soundSeconds_ >= kUpdateSeconds) {
    soundSeconds_ -= kUpdateSeconds;
    lows_[lowCount_ % kLowsKept] = windowLow_;
    ++lowCount_;
    windowLow_ = static_cast<double>(fillBytes) / bytesPerSecond_;
    Adjust(LeastLow());
  }
  return ratio_;
}

double DriftCorrection::LeastLow() const {
  const std::size_t count = std::min(lowCount_, kLowsKept);
  return *std::min_element(lows_.begin(), lows_.begin() + static_cast<std::ptrdiff_t>(count));
}

// Above the target the ring holds more than it needs: play faster.
void DriftCorrection::Adjust(double lowSeconds) {
  const double error = lowSeconds - target_;
  const double bounded = std::clamp(error, -kLinearRangeSeconds, kLinearRangeSeconds);
  if (bounded == error) {
    integral_ += kIntegralGain * error * kUpdateSeconds;
    integral_ = std::clamp(integral_, -kMaxDeviation, kMaxDeviation);
  }
  const double wanted = std::clamp(1.0 + kProportionalGain * bounded + integral_,
                                   1.0 - kMaxDeviation, 1.0 + kMaxDeviation);
  const double step = std::clamp(wanted - ratio_, -kMaxStep, kMaxStep);
  ratio_ += step;
  largestStep_ = std::max(largestStep_, std::fabs(step));
}

bool DriftCorrectionEnabled() {
  static const bool enabled = [] {
    const char* value = std::getenv("TONEWIRE_DRIFT_CORRECTION");
    if (value == nullptr || std::strcmp(value, "on") == 0 || std::strcmp(value, "1") == 0) {
      return true;
    }
    if (std::strcmp(value, "off") == 0 || std::strcmp(value, "0") == 0) {
      return false;
    }
    std::fprintf(stderr,
                 "TONEWIRE_DRIFT_CORRECTION=%s ignored: use on or off; the correction stays on\n",
                 value);
    return true;
  }();
  return enabled;
}

}  // namespace twplat::sound
