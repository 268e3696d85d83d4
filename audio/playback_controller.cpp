#include "audio/playback_controller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The rate loop is critically damped at 0.1 rad/s (a 63 s period): a
// 2000 ppm difference, present from the start, moves the level by about
// 10 ms at most and is absorbed within a minute, while a second's jitter
// moves the ratio by far less than a listener could hear.
constexpr double kNaturalRate = 0.1;  // rad/s
constexpr double kIntegralGain = kNaturalRate * kNaturalRate;
constexpr double kProportionalGain = 2 * kNaturalRate;
// Beyond this error the loop only pushes (proportional part at the limit)
// and the integral stands still, so that draining a backlog or filling up
// to a new target does not wind it up into an underrun afterwards.
constexpr double kLinearRangeSeconds = 0.025;
// Ticks that stayed away longer than this (a suspended process) do not
// catch up second by second.
constexpr int kMostSecondsPerTick = 120;

}  // namespace

PlaybackController::PlaybackController(const PlaybackSettings& settings)
    : bytesPerSecond_(settings.bytesPerSecond > 0 ? settings.bytesPerSecond : 1),
      frameBytes_(settings.frameBytes > 0 ? settings.frameBytes : 1),
      adaptive_(settings.fixedTargetSeconds <= 0),
      rateControl_(settings.rateControl),
      target_(adaptive_ ? kFloorSeconds
                        : std::clamp(settings.fixedTargetSeconds, 0.0, kCeilingSeconds)) {}

void PlaybackController::OnArrival(double now, std::uint64_t bytes, std::uint64_t bufferedBytes,
                                   std::uint64_t deviceBytes) {
  const bool spaced = !started_ || !InBurst(now);
  const bool firstAfterBacklog = spaced && backlogLanding_;
  backlogLanding_ = backlogLanding_ && !spaced;
  excessAfterBacklog_ = 0;
  double lateness = Lateness(now, bytes);
  if (spaced) {
    lateness = FollowSenderClock(lateness);
  } else {
    secondAsLate_ = false;  // a backlog, not a sender's pace
  }
  const double chunkSeconds = static_cast<double>(bytes) / bytesPerSecond_;
  chunkSeconds_ = chunkSeconds_ > 0 ? chunkSeconds_ + (chunkSeconds - chunkSeconds_) / kChunkAverage
                                    : chunkSeconds;
  lastLateness_ = lateness;
  second_.lateness = std::max(second_.lateness, lateness);
  if (spaced) {
    beforeLanding_ = {target_, level_, levelGoal_};
    RaiseTarget(lateness);  // a burst's first landing is its latest
    lastSpacedLateness_ = lateness;
  }
  if (!playing_) {
    return;
  }
  CountLanding(static_cast<double>(bufferedBytes) / bytesPerSecond_,
               static_cast<double>(deviceBytes) / bytesPerSecond_, lateness, firstAfterBacklog);
}

// What a landing found held (in the program, and on the device) counts
// toward the level, unless it is part of a stall's backlog. The first
// landing at the sender's pace after that backlog is on time by the
// sender's clock, the link being back: what it found beyond the level is
// skipped, and it counts as found after the skip.
void PlaybackController::CountLanding(double held, double device, double lateness,
                                      bool firstAfterBacklog) {
  if (firstAfterBacklog && levelKnown_) {
    excessAfterBacklog_ = std::clamp(held + device - beforeLanding_.level, 0.0, held);
  }
  if (levelKnown_ && held < kDrySeconds && lateness > kJitterAllowance) {
    gathering_ = gathering_ || lateness < kSkipExcessSeconds;
    backlogLanding_ = backlogLanding_ || lateness >= kSkipExcessSeconds;
  }
  if (backlogLanding_) {
    return;
  }
  const double found = held - excessAfterBacklog_;
  // What a chunk on time would have found: lateness is the target's
  // business, not the level's.
  second_.leastHeadroom = std::min(second_.leastHeadroom, found + lateness);
  second_.heldSum += found + device;
  ++second_.landings;
}

// How much later than the stream's own clock allows these bytes came.
double PlaybackController::Lateness(double now, std::uint64_t bytes) {
  received_ += bytes;
  const double offset = now - static_cast<double>(received_) / bytesPerSecond_;
  if (!started_) {
    started_ = true;
    baseline_ = offset;
  } else {
    baseline_ = std::min(offset, baseline_ + (now - lastArrival_) * kBaselineDrift);
  }
  lastArrival_ = now;
  return offset - baseline_;
}

// What lateness asks for. While holds keep coming (one within
// kMemorySeconds), the link is taken to hold as long as it did at worst
// within kSightingSeconds; once only jitter is left, the target falls.
double PlaybackController::Demand() const {
  const double recent = LatestWithin(kMemorySeconds, kLatestSeconds);
  const double lateness =
      recent > kJitterAllowance ? LatestWithin(kSightingSeconds, kLatestSeconds) : recent;
  return std::clamp(Wanted(lateness), kFloorSeconds, kCeilingSeconds);
}

// A hold delays the chunk due within it by anything from the hold's length
// less a chunk's interval to its whole length, so a chunk seen this late
// says the same hold may come back up to a chunk's interval later: the phase
// margin, kPhaseMargin times the lateness beyond what jitter explains, short
// of a whole interval (with 139 ms chunks any hold of 250 ms or more is then
// covered wherever it struck first). Each further sighting of such a hold
// narrows how much later it can come, and the margin with it: the n-th
// keeps an n-th of it.
double PlaybackController::Wanted(double lateness) const {
  const double phase =
      std::min(std::max(lateness - kJitterAllowance, 0.0) * kPhaseMargin, chunkSeconds_);
  const double unseen = std::min(phase / Sightings(lateness), LongestHold(lateness) - lateness);
  return lateness + kHeadroomMargin + std::max(lateness * (kLateMargin - 1), unseen);
}

// How long a hold seen this late can be, from its other sightings within
// kSightingSeconds: one that struck elsewhere between two chunks and was
// seen less late, by less than a chunk's interval, bounds it to that
// lateness and an interval, and the link's everyday jitter on top. A
// sighting stands clear of that jitter (half an interval beyond
// kJitterAllowance, and twice the everyday lateness); a second next to a
// later one is the same burst's tail, not a sighting of its own.
double PlaybackController::LongestHold(double lateness) const {
  const double clear = ClearOfJitter();
  double longest = lateness + chunkSeconds_;
  for (std::size_t back = 1; back <= kSightingSeconds; ++back) {
    const double peak = PeakBack(back);
    const bool ownSecond =
        peak >= PeakBack(back - 1) && (back == kSightingSeconds || peak >= PeakBack(back + 1));
    if (peak > clear && peak > lateness - chunkSeconds_ && ownSecond) {
      longest = std::min(longest, peak + chunkSeconds_ + everydayLateness_);
    }
  }
  return longest;
}

// Lateness that jitter does not explain: half an interval beyond
// kJitterAllowance, and twice the link's everyday lateness.
double PlaybackController::ClearOfJitter() const {
  return std::max(kJitterAllowance + chunkSeconds_ / 2, 2 * everydayLateness_);
}

// Where latePeaks_ keeps the second this many seconds back (1 or more).
std::size_t PlaybackController::PeakSlot(std::size_t back) const {
  return (peakIndex_ + kSightingSeconds - back) % kSightingSeconds;
}

// Within a quarter of a chunk's interval of the last landing: a burst.
bool PlaybackController::InBurst(double now) const {
  return now - lastArrival_ < chunkSeconds_ / 4;
}

// The latest chunk of the second this many seconds back (0: this one).
double PlaybackController::PeakBack(std::size_t back) const {
  return back == 0 ? second_.lateness : latePeaks_[PeakSlot(back)];
}

// Seconds of the last kSightingSeconds (this one included) in which a chunk
// came within half a chunk's interval of this lateness, or later: sightings
// of the same hold. Only those up to the youngest one this late count: the
// ones since, less late, may be a hold that recurs at a fixed period
// against the sender's fixed pace and strikes a little further from its
// worst place each time, until it comes back to it.
int PlaybackController::Sightings(double lateness) const {
  const double near = std::max(lateness - chunkSeconds_ / 2, kJitterAllowance);
  int seen = 0;
  bool reached = false;
  for (std::size_t back = 0; back <= kSightingSeconds; ++back) {
    const double peak = PeakBack(back);
    reached = reached || peak >= lateness;
    seen += reached && peak >= near && peak <= kLatestSeconds ? 1 : 0;
  }
  return std::max(seen, 1);
}

// The latest chunk of the last seconds, this one included, no later than
// most.
double PlaybackController::LatestWithin(std::size_t seconds, double most) const {
  double latest = 0;
  for (std::size_t back = 0; back <= seconds; ++back) {
    const double peak = PeakBack(back);
    latest = peak <= most ? std::max(latest, peak) : latest;
  }
  return latest;
}

// A chunk later than the Server ever holds (a cut of the link) leaves the
// target alone: no target within the ceiling would have covered it, and its
// backlog is skipped.
void PlaybackController::RaiseTarget(double lateness) {
  const double wanted = Wanted(lateness);
  if (adaptive_ && lateness <= kLatestSeconds && wanted > target_) {
    SetTarget(std::min(wanted, kCeilingSeconds));
  }
}

// Three landings in a row at the sender's pace, all late beyond jitter and
// by about as much, are no hold (after a hold chunks come on time again):
// the sender paused or lost sound, and its clock has moved on. Two are not
// enough: a receiver kept from reading for a moment just after a hold's
// backlog began to land sees one more such landing, and then the rest of
// the backlog in a burst, which ends the run. The baseline moves with the
// sender, the target and the level go back to where they were before the
// first of the three raised them, and the last seconds' lateness is taken
// as the pause's. Returns this landing's lateness on the sender's clock.
double PlaybackController::FollowSenderClock(double lateness) {
  const double clear = ClearOfJitter();
  if (lateness <= clear || lastSpacedLateness_ <= clear ||
      std::fabs(lateness - lastSpacedLateness_) > clear / 2) {
    secondAsLate_ = false;
    return lateness;
  }
  if (!secondAsLate_) {
    secondAsLate_ = true;
    beforeRun_ = beforeLanding_;  // before the first of the run raised them
    leastOfRun_ = std::min(lateness, lastSpacedLateness_);
    return lateness;
  }
  const double moved = std::min(lateness, leastOfRun_);
  baseline_ += moved;
  lastSpacedLateness_ = 0;
  secondAsLate_ = false;
  if (adaptive_ && target_ > beforeRun_.target) {
    target_ = beforeRun_.target;
    level_ = beforeRun_.level;
    levelGoal_ = beforeRun_.levelGoal;
    for (Second& second : seconds_) {
      second.level = std::min(second.level, level_);  // a second that ended meanwhile
    }
  }
  second_.lateness = std::max(second_.lateness - moved, 0.0);
  for (std::size_t back = 1; back <= kStallSeconds; ++back) {
    double& peak = latePeaks_[PeakSlot(back)];
    peak = std::max(peak - moved, 0.0);
  }
  return lateness - moved;
}

// The second's latest chunk joins the last kSightingSeconds', and their
// median is the link's everyday lateness.
void PlaybackController::KeepPeak(double lateness) {
  latePeaks_[peakIndex_] = lateness;
  peakIndex_ = (peakIndex_ + 1) % kSightingSeconds;
  peaksKept_ = std::min(peaksKept_ + 1, kSightingSeconds);
  std::array<double, kSightingSeconds> peaks = latePeaks_;  // filled from the front
  const auto middle = peaks.begin() + static_cast<std::ptrdiff_t>(peaksKept_ / 2);
  std::nth_element(peaks.begin(), middle, peaks.begin() + static_cast<std::ptrdiff_t>(peaksKept_));
  everydayLateness_ = *middle;
}

// The level held moves with the target, once it is known.
void PlaybackController::SetTarget(double target) {
  if (levelKnown_) {
    levelGoal_ += target - target_;
    level_ = std::max(level_, levelGoal_);
  }
  target_ = target;
}

double PlaybackController::Tick(double now) {
  if (!ticking_) {
    ticking_ = true;
    secondStart_ = now;
    return ratio_;
  }
  if (now - secondStart_ > kMostSecondsPerTick * kUpdateSeconds) {
    secondStart_ = now - kMostSecondsPerTick * kUpdateSeconds;
  }
  while (now - secondStart_ >= kUpdateSeconds) {
    EndSecond();
    secondStart_ += kUpdateSeconds;
  }
  return ratio_;
}

void PlaybackController::EndSecond() {
  KeepPeak(second_.lateness);
  const Second ended = second_;
  second_ = Second{};
  if (adaptive_) {
    const double demand = Demand();
    if (target_ > demand) {
      SetTarget(target_ - (target_ - demand) * kUpdateSeconds / kFallSeconds);
    }
  }
  if (ended.landings == 0) {
    return;  // a stall: nothing to steer by, and the rate stays as it is
  }
  seconds_[secondsSeen_ % kSecondsKept] = ended;
  ++secondsSeen_;
  FollowTarget();
}

// Learns the level in the first seconds, raises it after an unexplained
// shortfall, and steers the rate toward it.
void PlaybackController::FollowTarget() {
  double heldSum = 0;
  int landings = 0;
  double leastHeadroom = 1e9;
  for (const Second& second : seconds_) {
    heldSum += second.heldSum;
    landings += second.landings;
    leastHeadroom = std::min(leastHeadroom, second.leastHeadroom);
  }
  if (secondsSeen_ < kSecondsKept) {
    return;
  }
  const double meanHeld = heldSum / landings;
  Second& last = seconds_[(secondsSeen_ - 1) % kSecondsKept];
  if (!levelKnown_) {
    levelKnown_ = true;
    levelGoal_ = meanHeld + target_ - leastHeadroom;
    level_ = meanHeld;
    for (Second& second : seconds_) {
      second.level = level_;
    }
  } else if (last.leastHeadroom < target_ / 2) {
    levelGoal_ = std::max(levelGoal_, meanHeld + target_ - last.leastHeadroom);
  }
  MoveLevel();
  last.level = level_;
  double levelSum = 0;
  for (const Second& second : seconds_) {
    levelSum += second.level * second.landings;
  }
  if (rateControl_) {
    Adjust(meanHeld - levelSum / landings, levelFall_);
  }
}

// Up at once, down by at most kLevelFall a second.
void PlaybackController::MoveLevel() {
  levelFall_ = 0;
  if (levelGoal_ >= level_) {
    level_ = levelGoal_;
    return;
  }
  const double fall = std::min(level_ - levelGoal_, kLevelFall * kUpdateSeconds);
  level_ -= fall;
  levelFall_ = fall / kUpdateSeconds;
}

// Above the level the Server holds more than it needs: play faster; and
// faster by as much as the level is falling.
void PlaybackController::Adjust(double error, double feedForward) {
  const double bounded = std::clamp(error, -kLinearRangeSeconds, kLinearRangeSeconds);
  if (bounded == error) {
    integral_ += kIntegralGain * error * kUpdateSeconds;
    integral_ = std::clamp(integral_, -kMaxDeviation, kMaxDeviation);
  }
  const double wanted = std::clamp(1.0 + kProportionalGain * bounded + integral_ + feedForward,
                                   1.0 - kMaxDeviation, 1.0 + kMaxDeviation);
  const double step = std::clamp(wanted - ratio_, -kMaxStep, kMaxStep);
  ratio_ += step;
  largestStep_ = std::max(largestStep_, std::fabs(step));
}

bool PlaybackController::Gathering(double now, std::uint64_t heldBytes) {
  if (backlogLanding_ && InBurst(now)) {
    return true;  // the link is handing over what it held, faster than it is played
  }
  if (!gathering_) {
    return false;
  }
  // When the next chunk is due by the stream's clock.
  const double nextDue =
      baseline_ + static_cast<double>(received_) / bytesPerSecond_ + chunkSeconds_;
  const double wanted = target_ + std::max(nextDue - now, 0.0);
  gathering_ = static_cast<double>(heldBytes) / bytesPerSecond_ < wanted;
  return gathering_;
}

std::uint64_t PlaybackController::BytesToSkip(std::uint64_t heldBytes) const {
  if (excessAfterBacklog_ > 0) {
    const auto excess =
        std::min(static_cast<std::uint64_t>(excessAfterBacklog_ * bytesPerSecond_), heldBytes);
    return excess - excess % frameBytes_;
  }
  const double held = static_cast<double>(heldBytes) / bytesPerSecond_;
  const double stall = LatestWithin(kStallSeconds);
  const double kept = std::min(target_ + kKeptAfterSkip, kLatestSeconds);
  // A stall later than the target by more than kSkipExcessSeconds (a cut,
  // after which the sender may have lost part of what it held) leaves its
  // whole backlog to skip, beyond a chunk more than what is kept.
  const bool backlog = held > target_ + kSkipExcessSeconds || held > kLatestSeconds ||
                       (stall > target_ + kSkipExcessSeconds && held > kept + chunkSeconds_);
  if (stall < kSkipExcessSeconds || !backlog || held <= kept) {
    return 0;
  }
  const auto skipped = static_cast<std::uint64_t>((held - kept) * bytesPerSecond_);
  return skipped - skipped % frameBytes_;
}

bool RateControlEnabled() {
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
