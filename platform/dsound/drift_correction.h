// Keeps a playback ring's low point steady when the sender's sound clock and
// the device's differ (two machines' sound cards differ by 20-100 ppm).
//
// The device side reports, each time it takes sound from the ring, how much
// sound is still queued ahead of its cursor; it gets back the ratio at which
// to play (1.0 = the format's nominal rate, above 1 plays faster). A faster
// sender shows as a low point that climbs (and, once the ring is full, as a
// backlog in the socket that the ring cannot see), a slower one as a low
// point that sinks toward an underrun; the ratio follows until the low point
// holds at a quarter of the ring.
//
// The low point is the least fill of each second of sound: the moment just
// before the next chunk lands, so it measures the headroom against an
// underrun whatever the chunk size, and it sits below the level at which the
// writer waits for room. The loop holds the least of the last five lows: a
// late chunk is exactly what the headroom is for, so it is never averaged
// away (a loop that held the typical low let jitter run the ring dry, and a
// ring that runs dry plays stale sound and, once the writer is lapped, a
// whole ring of lasting delay). The ratio is a PI controller's output, moved
// at most kMaxStep per second of sound and kept within +-kMaxDeviation.
//
// Used on the device thread only; no allocation, no locks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace twplat::sound {

class DriftCorrection {
 public:
  static constexpr double kMaxDeviation = 0.005;  // +-0.5 %
  static constexpr double kMaxStep = 1000e-6;     // per update: 1.7 cents of pitch, at most
  static constexpr double kUpdateSeconds = 1.0;   // of sound, between updates

  // ringBytes and bytesPerSecond of the ring's format.
  DriftCorrection(std::uint32_t ringBytes, std::uint32_t bytesPerSecond);

  // fillBytes: queued ahead of the device's cursor after it took
  // playedBytes. Returns the ratio to play at from now on.
  double Update(std::uint64_t fillBytes, std::uint32_t playedBytes);

  double ratio() const { return ratio_; }
  // The largest change of the ratio so far, for reports.
  double largestStep() const { return largestStep_; }
  double targetSeconds() const { return target_; }

 private:
  static constexpr std::size_t kLowsKept = 5;

  void Adjust(double lowSeconds);
  double LeastLow() const;

  const double bytesPerSecond_;
  const double target_;  // seconds of sound queued at the low point
  double soundSeconds_ = 0;
  double windowLow_;
  std::array<double, kLowsKept> lows_{};
  std::size_t lowCount_ = 0;
  double integral_ = 0;
  double ratio_ = 1.0;
  double largestStep_ = 0;
};

// TONEWIRE_DRIFT_CORRECTION=off (or 0) turns the correction off, for
// measuring what it corrects; read once.
bool DriftCorrectionEnabled();

}  // namespace twplat::sound
