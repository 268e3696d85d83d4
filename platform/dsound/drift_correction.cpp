#include "platform/dsound/drift_correction.h"

#include <algorithm>
#include <cmath>

#include "platform/env/environment.h"

namespace twplat::sound {
namespace {

// The loop is critically damped at 0.1 rad/s (a 63 s period): a 2000 ppm
// difference, present from the start, moves the fill by about 10 ms at most
// and is absorbed within a minute, while a second's jitter moves the ratio
// by far less than a listener could hear.
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
      floor_(ringBytes / 8.0 / bytesPerSecond_),
      ceiling_(ringBytes / 4.0 / bytesPerSecond_),
      secondLow_(ringBytes / bytesPerSecond_) {}

double DriftCorrection::Update(std::uint64_t fillBytes, std::uint32_t playedBytes,
                               std::uint64_t deviceBytes) {
  const double fill = static_cast<double>(fillBytes) / bytesPerSecond_;
  const double device = static_cast<double>(deviceBytes) / bytesPerSecond_;
  const double played = playedBytes / bytesPerSecond_;
  secondLow_ = std::min(secondLow_, fill);
  secondSum_ += (fill + device) * played;
  soundSeconds_ += played;
  if (soundSeconds_ >= kUpdateSeconds) {
    EndSecond(secondLow_, secondSum_ / soundSeconds_);
    soundSeconds_ = 0;
    secondSum_ = 0;
    secondLow_ = fill;
  }
  return ratio_;
}

void DriftCorrection::EndSecond(double low, double mean) {
  lows_[seconds_ % kSecondsKept] = low;
  means_[seconds_ % kSecondsKept] = mean;
  ++seconds_;
  if (seconds_ < kSecondsKept) {
    return;  // the start: nothing to hold yet
  }
  if (seconds_ == kSecondsKept) {
    const double least = LeastLow();
    target_ = Mean() + std::clamp(least, floor_, ceiling_) - least;
  } else if (low < floor_ / 2) {
    target_ = std::max(target_, mean + floor_ - low);
  }
  Adjust(Mean() - target_);
}

double DriftCorrection::LeastLow() const { return *std::min_element(lows_.begin(), lows_.end()); }

double DriftCorrection::Mean() const {
  double sum = 0;
  for (double mean : means_) {
    sum += mean;
  }
  return sum / kSecondsKept;
}

// Above the target the ring holds more than it needs: play faster.
void DriftCorrection::Adjust(double error) {
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
  static const bool enabled = env::Read(env::kDriftCorrection);
  return enabled;
}

}  // namespace twplat::sound
