// Decides how much sound the Server holds ahead of the speaker, and the rate
// at which it plays, from how chunks arrive. Plain logic on a clock the
// caller provides (seconds, any origin): no threads, no allocation.
//
// Headroom. What is held between the socket and the device (the program's
// queue and the ring) when a chunk lands is what a late chunk may use up
// before the device plays silence. The stream brings its own clock: a chunk
// is late by how much its arrival trails the bytes received so far at the
// format's rate, measured against the earliest recent arrivals (a baseline
// that may rise by at most kBaselineDrift a second, faster than two sound
// clocks part, slower than any hold). Three landings in a row at the
// sender's pace (not a burst's), late beyond jitter by about as much, move
// it up to them and undo the raise the first made: after a hold chunks come
// on time again, so that is a sender that paused or lost sound, and its
// clock has moved on. The headroom wanted (the
// target) rises at once when a chunk (a burst's first) comes later than it
// allows: to that lateness, kHeadroomMargin more, and the larger of a
// twentieth of it (kLateMargin) and the phase margin. A hold delays the
// chunk due within it by anything from its length less a chunk's interval
// to its whole length, so the same hold, striking elsewhere between two
// chunks, may delay one by up to an interval more: the phase margin is
// kPhaseMargin times the lateness beyond kJitterAllowance (jitter needs
// none), up to an interval, and each further sighting of such a hold within
// kSightingSeconds, up to the latest, narrows it (the n-th keeps an n-th;
// less late ones since may be a hold walking away from its worst place, to
// come back to it). A sighting less late, by less than an interval, struck
// elsewhere between two chunks and bounds the hold: no longer than that
// lateness, an interval and the link's everyday jitter; the phase margin
// never goes beyond the bound. While
// holds keep coming (one within kMemorySeconds), the target is kept for the
// worst of them within kSightingSeconds: a later one that struck where it
// delayed a chunk less may strike worse again. Once only jitter came for
// kMemorySeconds, the target falls toward what is still seen, over tens of
// seconds; it stays between kFloorSeconds and kCeilingSeconds. A chunk
// later than the Server ever holds (kLatestSeconds: a cut of the link)
// leaves it alone: no target within the ceiling covers that, and the
// backlog is skipped. A fixed target may be set instead.
//
// Rate. What is held is held through the playback rate, as a PI controller that
// does not wind up (the drift correction between two sound clocks, and the way
// to a new target). It holds the mean, over the last five seconds, of the
// amount held as chunks land, the device's own queue included where the caller
// knows it (a device that settles deeper then does not add to the latency). The
// level held is learnt in the first seconds: what the start set up, moved so
// that its least headroom lies at the target; from then on it moves with the
// target. It rises at once, and falls by at most kLevelFall a second, the speed
// of its fall fed forward into the rate (so the loop drains it without an error
// to correct and the overshoot that would follow). The loop compares the mean
// held with the mean level of the same seconds. Headroom is counted as a chunk
// on time would have found it (what was held when a chunk landed, plus how late
// it came), so that lateness, which the target covers, is not counted twice. A
// second whose headroom fell below half the target (the device's steps sliding
// past the landings) raises the level for good. The ratio stays within
// +-kMaxDeviation and moves at most kMaxStep a second.
//
// Backlog. After a stall (a chunk at least kSkipExcessSeconds late within the
// last kStallSeconds), a backlog beyond the target by more than
// kSkipExcessSeconds, or beyond kLatestSeconds, is to be skipped down to about
// the target (a long stall would otherwise be played late for good); a smaller
// excess is played out through the rate. A stall later than the target by
// more than kSkipExcessSeconds (a cut, of which the sender may have lost a
// part) has any backlog beyond a chunk more than that skipped too. With the
// device's queue and a chunk's length on top, nothing then plays more than
// 2 s late. The first landing at the sender's pace after such a backlog is
// on time, the link being back: what it finds beyond the level is skipped
// as well, rather than played out through the rate over many seconds, and
// the backlog's landings do not count toward the level.
//
// Refill. A late chunk that finds nothing held comes after the device has
// been playing silence; the program's queue then gathers sound until the
// next chunk on time would find the target's headroom, drawing out the
// silence already heard instead of filling the target through the rate
// (over a minute, within which the next hold may come). After a stall,
// nothing reaches the ring while its backlog is still landing: the oldest of
// it is to be skipped, not played 2 s late.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct PlaybackSettings {
  std::uint32_t bytesPerSecond = 176400;
  std::uint32_t frameBytes = 4;
  double fixedTargetSeconds = 0;  // 0: the target adapts to the link
  bool rateControl = true;        // false: the ratio stays 1
};

class PlaybackController {
 public:
  static constexpr double kFloorSeconds = 0.025;
  static constexpr double kCeilingSeconds = 1.4;
  static constexpr double kLateMargin = 1.05;
  static constexpr double kHeadroomMargin = 0.005;
  // Lateness up to this is jitter (the sender's capture steps, a busy
  // machine) rather than a hold, and needs no phase margin.
  static constexpr double kJitterAllowance = 0.040;
  static constexpr double kPhaseMargin = 2.0;      // per second of lateness beyond it
  static constexpr double kBaselineDrift = 0.006;  // seconds per second: 6000 ppm
  static constexpr std::size_t kMemorySeconds = 150;
  // How long a hold is remembered, at its worst, and its sightings counted:
  // a link's holds recur for as long as their cause (a scan every half
  // minute), far longer than the target waits before falling.
  static constexpr std::size_t kSightingSeconds = 600;
  static constexpr double kFallSeconds = 30;  // time constant of the target's fall
  static constexpr double kSkipExcessSeconds = 1.0;
  static constexpr double kLatestSeconds = kCeilingSeconds + 0.2;  // held, at most
  static constexpr std::size_t kStallSeconds = 5;
  static constexpr double kKeptAfterSkip = 0.15;  // beyond the target: a chunk's worth
  static constexpr double kMaxDeviation = 0.005;  // +-0.5 %
  static constexpr double kMaxStep = 1000e-6;     // per update: 1.7 cents of pitch, at most
  static constexpr double kUpdateSeconds = 1.0;
  static constexpr double kLevelFall = 0.003;   // seconds per second, at most: 0.3 %
  static constexpr double kDrySeconds = 0.005;  // held at a landing: the ring ran dry

  explicit PlaybackController(const PlaybackSettings& settings);

  // Playback has started: landings from now on count toward the level (the
  // ones before only set the stream's clock).
  void OnPlaybackStarted() { playing_ = true; }
  // bytes arrived at now. bufferedBytes: held in the program's queue and the
  // ring just before they were added; deviceBytes: taken by the device and
  // not yet heard, where known.
  void OnArrival(double now, std::uint64_t bytes, std::uint64_t bufferedBytes,
                 std::uint64_t deviceBytes = 0);
  // Called often (every pass of the receiver): once per kUpdateSeconds runs
  // the target's fall and the rate loop. Returns the ratio to play at from
  // now on (above 1 plays faster).
  double Tick(double now);
  // Whole frames to skip from what is held (heldBytes, the program's queue
  // and the ring, the last landing included) to get back to the target; 0
  // unless the backlog is far beyond it or the last landing is the first at
  // the sender's pace after a stall's backlog.
  std::uint64_t BytesToSkip(std::uint64_t heldBytes) const;
  // After a late chunk found nothing held (the device has been playing
  // silence since the ring ran dry), true until what is held (heldBytes)
  // would give the next chunk on time the target's headroom: the silence
  // already heard is drawn out to the target at once, rather than the rate
  // filling it over a minute while the next hold may come. After a stall of
  // kSkipExcessSeconds or more, whose backlog is skipped instead, true
  // while that backlog is still landing, so that none of what is to be
  // skipped reaches the ring and plays late.
  bool Gathering(double now, std::uint64_t heldBytes);

  double ratio() const { return ratio_; }
  double targetSeconds() const { return target_; }
  double latenessSeconds() const { return lastLateness_; }
  double largestStep() const { return largestStep_; }

 private:
  static constexpr std::size_t kSecondsKept = 5;
  static constexpr double kChunkAverage = 16;  // landings the chunk's length is averaged over

  // One second's landings: the least headroom (as a chunk on time would
  // have found it: what was held when the chunk landed, plus how late it
  // came), the sum of the amounts held and their count, the largest
  // lateness.
  struct Second {
    double leastHeadroom = 1e9;
    double heldSum = 0;
    int landings = 0;
    double lateness = 0;
    double level = 0;  // the level held at the second's end
  };

  double Lateness(double now, std::uint64_t bytes);
  void CountLanding(double held, double device, double lateness, bool firstAfterBacklog);
  void RaiseTarget(double lateness);
  void EndSecond();
  void KeepPeak(double lateness);
  double FollowSenderClock(double lateness);
  void FollowTarget();
  void SetTarget(double target);
  void MoveLevel();
  void Adjust(double error, double feedForward);
  double Demand() const;
  double Wanted(double lateness) const;
  int Sightings(double lateness) const;
  double LatestWithin(std::size_t seconds, double most = 1e9) const;
  double LongestHold(double lateness) const;
  double PeakBack(std::size_t back) const;
  std::size_t PeakSlot(std::size_t back) const;
  bool InBurst(double now) const;
  double ClearOfJitter() const;

  const double bytesPerSecond_;
  const std::uint32_t frameBytes_;
  const bool adaptive_;
  const bool rateControl_;
  double target_;
  double level_ = 0;      // the mean held as chunks land, once learnt
  double levelGoal_ = 0;  // where level_ is going
  double levelFall_ = 0;  // how fast it fell in the last second, fed forward
  bool levelKnown_ = false;
  bool playing_ = false;
  bool gathering_ = false;
  // After a stall, until the next landing at the sender's pace (past the
  // link's burst).
  bool backlogLanding_ = false;
  // Found held beyond the level by the first landing at the sender's pace
  // after a stall's backlog (0 for any other landing).
  double excessAfterBacklog_ = 0;
  // Before the last landing at the sender's pace (not a burst's) raised
  // them, and how late it came.
  struct Raised {
    double target = 0;
    double level = 0;
    double levelGoal = 0;
  };
  Raised beforeLanding_;
  double lastSpacedLateness_ = 0;
  // The last landing at the sender's pace was the second in a row as late
  // as the one before; the values before the first of them raised them, and
  // the lesser lateness of the two.
  bool secondAsLate_ = false;
  Raised beforeRun_;
  double leastOfRun_ = 0;
  // Stream clock: arrival time less received bytes at the format's rate.
  std::uint64_t received_ = 0;
  bool started_ = false;
  double baseline_ = 0;
  double lastArrival_ = 0;
  double lastLateness_ = 0;
  double chunkSeconds_ = 0;  // the usual length of a landing's bytes
  double secondStart_ = 0;
  bool ticking_ = false;
  Second second_;
  std::array<Second, kSecondsKept> seconds_{};
  std::size_t secondsSeen_ = 0;  // seconds with landings
  // The latest chunk of each of the last kSightingSeconds.
  std::array<double, kSightingSeconds> latePeaks_{};
  std::size_t peakIndex_ = 0;
  std::size_t peaksKept_ = 0;
  double everydayLateness_ = 0;  // the median of latePeaks_: the link's jitter
  double integral_ = 0;
  double ratio_ = 1.0;
  double largestStep_ = 0;
};

// TONEWIRE_DRIFT_CORRECTION=off (or 0) keeps the rate at 1, for measuring
// what the rate loop corrects; read once.
bool RateControlEnabled();
