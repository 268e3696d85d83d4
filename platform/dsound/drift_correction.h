// Keeps a playback ring's fill steady when the sender's sound clock and the
// device's differ (two machines' sound cards differ by 20-100 ppm).
//
// The device side reports, each time it takes sound from the ring, how much
// sound is still queued ahead of its cursor; it gets back the ratio at which
// to play (1.0 = the format's nominal rate, above 1 plays faster). A faster
// sender shows as a fill that climbs (and, once the ring is full, as a
// backlog in the socket that the ring cannot see), a slower one as a fill
// that sinks toward an underrun.
//
// What the loop holds is the mean, over the last five seconds of sound, of
// the ring's fill plus what the device has taken but not yet played (the
// sound server's queue and its own latency): the latency less constants.
// The server sizes its queue itself, and has been seen to settle a request
// (25 ms) deeper after minutes of play; a loop that held the ring alone then
// refilled the ring behind it and kept the extra delay for good. A low point
// (the least fill of a second, just before a chunk lands) is a poor thing to
// hold: the device takes sound in steps (25 ms for the sound server) that
// slide past the chunks' landings, so the low it sees wanders by a step
// every half minute, and a late chunk moves it further; a loop that held it
// moved the latency by as much.
//
// The low points set how much to hold. The start holds what it set up (the
// mean of its first five seconds), moved so that their least low lies
// between an eighth and a quarter of the ring: a CD-format stream starts
// about 40 ms deep (two chunks fill the 250 ms ring, the sound server takes
// its 100 ms queue out of it, and the next chunk comes 139 ms later) and is
// held there; formats with short chunks start fuller and are brought down to
// a quarter. Later, a second whose low point falls below a sixteenth (the
// steps' wander stays above it) raises the mean held until that low would
// have been an eighth, for good: a late chunk is exactly what the headroom
// is for, and a ring that runs dry plays stale sound. The ratio is
// a PI controller's output, moved at most kMaxStep per second of sound and
// kept within +-kMaxDeviation.
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
  // playedBytes; deviceBytes: taken by the device and not yet heard (part of
  // the latency held, not of the ring's low points). Returns the ratio to
  // play at from now on.
  double Update(std::uint64_t fillBytes, std::uint32_t playedBytes, std::uint64_t deviceBytes = 0);

  double ratio() const { return ratio_; }
  // The largest change of the ratio so far, for reports.
  double largestStep() const { return largestStep_; }
  // The mean latency held (fill and device), in seconds of sound (0 during
  // the first seconds).
  double targetSeconds() const { return target_; }

 private:
  static constexpr std::size_t kSecondsKept = 5;

  void EndSecond(double low, double mean);
  void Adjust(double error);
  double LeastLow() const;
  double Mean() const;

  const double bytesPerSecond_;
  const double floor_;    // seconds of sound at the low point, at least
  const double ceiling_;  // at the start's low point, at most
  double target_ = 0;     // the mean latency held, in seconds of sound
  double soundSeconds_ = 0;
  double secondLow_;
  double secondSum_ = 0;  // fill and device times sound played, this second
  std::array<double, kSecondsKept> lows_{};
  std::array<double, kSecondsKept> means_{};
  std::size_t seconds_ = 0;
  double integral_ = 0;
  double ratio_ = 1.0;
  double largestStep_ = 0;
};

// TONEWIRE_DRIFT_CORRECTION=off (or 0) turns the correction off, for
// measuring what it corrects; read once.
bool DriftCorrectionEnabled();

}  // namespace twplat::sound
