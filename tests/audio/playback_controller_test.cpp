// The playback controller against a simulated stream: a sender that makes
// 24576-byte chunks at its own pace, a link that delivers them in order
// (late by a pseudo-random jitter, held for spikes, cut for an outage), a
// receiver that queues what arrives and moves it into a quarter-second ring
// as room allows, and a device that takes sound out every 10 ms at its own
// pace times the controller's ratio, after taking its 40 ms queue at the
// start. Time moves in 1 ms steps, so every run is exact and takes a
// fraction of a second.
#include "audio/playback_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <vector>

#include "tests/support/signal_analysis.h"

namespace {

using twtest::Median;

constexpr std::uint32_t kChunk = 24576;

struct Pair {
  double senderPpm = 0;
  double devicePpm = 0;
  std::uint32_t bytesPerSecond = 176400;
  std::uint32_t frameBytes = 4;
  bool wholeChunks = true;  // the writer waits for room for a whole chunk
  bool corrected = true;
  long jitterMs = 0;               // a chunk reaches the receiver up to this late
  long lateEveryTwoMinutesMs = 0;  // one chunk every two minutes is this late
  // At deviceStepSeconds the device takes deviceStepMs more out of the ring
  // at once and keeps it queued from then on, as a sound server that settles
  // a request deeper does.
  long deviceStepMs = 0;
  long deviceStepSeconds = 0;
  bool deviceReported = true;  // the controller hears of the device's queue
  // The link holds everything for holdMs every holdEverySeconds, from
  // firstHoldSeconds on (an outage: nothing through, then all at once).
  long holdMs = 0;
  long holdEverySeconds = 0;
  long firstHoldSeconds = 0;
  double fixedTargetSeconds = 0;
  long deviceQueueMs = 40;  // what the device takes at the start and keeps
  // The sender captures nothing for pauseMs from pauseSeconds on (its
  // source stopped) and goes on from there, with no backlog.
  long pauseMs = 0;
  long pauseSeconds = 0;
  // Once the first hold's first chunk has landed, the receiver reads
  // nothing for this long (a busy machine): the rest lands at once after.
  long starveAfterHoldMs = 0;
};

struct Outcome {
  int underruns = 0;       // device steps that found the ring empty while playing
  int laterUnderruns = 0;  // those after measureFrom
  // Underrun episodes: runs of underrunning steps, counted once each.
  int gaps = 0;
  // Sound between sender and speaker (in flight, queue, ring and the
  // device's queue), in seconds, as each chunk is sent: the stream's latency
  // less constants. The median of each minute (or of each medianSeconds), as
  // the benchmark takes it, and every value for the whole run.
  std::vector<double> minuteMedians;
  std::vector<double> latencies;  // one per chunk sent, from the start
  double ratioMin = 1;
  double ratioMax = 1;
  double largestStep = 0;
  std::uint64_t skipped = 0;
  // How long after it was captured the oldest sound the device took was
  // heard, at worst (after measureFrom).
  double latestHeard = 0;
  std::vector<double> targets;  // the controller's target, once a second
};

// Largest less least of the minute medians.
double Drift(const Outcome& outcome) {
  const auto [least, most] =
      std::minmax_element(outcome.minuteMedians.begin(), outcome.minuteMedians.end());
  return *most - *least;
}

// When a chunk sent at sentMs arrives: after the jitter and any hold, and
// after the chunk sent before it.
class Link {
 public:
  explicit Link(const Pair& pair) : pair_(pair) {}

  long ArrivalMs(long sentMs) {
    noise_ = noise_ * 1103515245u + 12345u;
    long late = pair_.jitterMs > 0 ? static_cast<long>((noise_ >> 8) % pair_.jitterMs) : 0;
    if (pair_.lateEveryTwoMinutesMs > 0 && sentMs >= nextLateMs_) {
      late += pair_.lateEveryTwoMinutesMs;
      nextLateMs_ += 120000;
    }
    long arrival = std::max(last_ + 1, sentMs + late);  // a backlog comes a chunk a millisecond
    if (pair_.holdMs > 0 && arrival >= pair_.firstHoldSeconds * 1000) {
      const long period = pair_.holdEverySeconds * 1000;
      const long into = (arrival - pair_.firstHoldSeconds * 1000) % period;
      if (into < pair_.holdMs) {
        arrival += pair_.holdMs - into;
        firstHeldAt_ = firstHeldAt_ < 0 ? arrival : firstHeldAt_;
      }
    }
    if (firstHeldAt_ >= 0 && arrival > firstHeldAt_ &&
        arrival < firstHeldAt_ + pair_.starveAfterHoldMs) {
      arrival = firstHeldAt_ + pair_.starveAfterHoldMs;
    }
    last_ = arrival;
    return arrival;
  }

 private:
  const Pair& pair_;
  std::uint32_t noise_ = 12345;
  long nextLateMs_ = 120000;
  long last_ = 0;
  long firstHeldAt_ = -1;  // when the first hold's first chunk landed
};

// seconds of simulated time; queue figures only after measureFrom.
Outcome Simulate(const Pair& pair, double seconds, double measureFrom, long medianSeconds = 60) {
  const std::uint32_t ring = pair.bytesPerSecond / 4 / pair.frameBytes * pair.frameBytes;
  PlaybackController controller(
      {pair.bytesPerSecond, pair.frameBytes, pair.fixedTargetSeconds, pair.corrected});
  Link link(pair);
  Outcome outcome;
  std::uint64_t sent = 0, queue = 0, written = 0, played = 0, deviceQueue = 0;
  std::deque<long> arrivals;  // when each chunk in flight reaches the receiver
  double senderDue = 0, deviceDue = 0, ratio = 1;
  bool playing = false, underrunning = false;
  std::vector<double> minute;
  // From each written byte on, the stream is ahead of the ring by this much
  // skipped sound.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> shifts{{0, 0}};
  for (long ms = 0; ms < static_cast<long>(seconds * 1000); ++ms) {
    const long pausedFor = ms - pair.pauseSeconds * 1000;
    if (pausedFor < 0 || pausedFor >= pair.pauseMs) {
      senderDue += pair.bytesPerSecond * (1 + pair.senderPpm * 1e-6) / 1000;
    }
    while (senderDue - static_cast<double>(sent) >= kChunk) {
      sent += kChunk;
      arrivals.push_back(link.ArrivalMs(ms));
      const double latency =
          static_cast<double>(sent - outcome.skipped - played + deviceQueue) / pair.bytesPerSecond;
      outcome.latencies.push_back(latency);
      if (ms >= measureFrom * 1000) {
        minute.push_back(latency);
      }
    }
    if (ms % (medianSeconds * 1000) == medianSeconds * 1000 - 1 && !minute.empty()) {
      outcome.minuteMedians.push_back(Median(minute));
      minute.clear();
    }
    while (!arrivals.empty() && arrivals.front() <= ms) {
      arrivals.pop_front();
      controller.OnArrival(ms / 1000.0, kChunk, queue + (written - played),
                           pair.deviceReported ? deviceQueue : 0);
      queue += kChunk;
      const std::uint64_t skip =
          std::min(controller.BytesToSkip(queue + (written - played)), queue);
      EXPECT_EQ(skip % pair.frameBytes, 0u);
      queue -= skip;
      outcome.skipped += skip;
      if (skip > 0) {
        shifts.push_back({written, outcome.skipped});
      }
    }
    // Playback starts once the writer has to wait for room, or with the
    // second chunk.
    const std::uint64_t room = ring - (written - played);
    const std::uint64_t wanted = pair.wholeChunks ? std::min<std::uint64_t>(queue, kChunk) : 1;
    const bool gathering = controller.Gathering(ms / 1000.0, queue + (written - played));
    if (queue > 0 && room >= wanted && !gathering) {
      const std::uint64_t moved = pair.wholeChunks ? wanted : std::min(queue, room);
      written += moved;
      queue -= moved;
    }
    const bool starting =
        !playing && (written >= 2 * kChunk || (queue > 0 && ring - (written - played) < wanted));
    if (starting) {
      // The sound server fills its queue at once.
      playing = true;
      controller.OnPlaybackStarted();
      std::uint64_t first =
          pair.bytesPerSecond * pair.deviceQueueMs / 1000 / pair.frameBytes * pair.frameBytes;
      first = std::min(first, written - played);
      played += first;
      deviceQueue = first;
      deviceDue = static_cast<double>(played);
    }
    if (playing && pair.deviceStepMs > 0 && ms == pair.deviceStepSeconds * 1000) {
      std::uint64_t step =
          pair.bytesPerSecond * pair.deviceStepMs / 1000 / pair.frameBytes * pair.frameBytes;
      step = std::min(step, written - played);
      played += step;
      deviceQueue += step;
      deviceDue += static_cast<double>(step);
    }
    if (ms % 1000 == 0) {
      outcome.targets.push_back(controller.targetSeconds());
    }
    if (!playing || ms % 10 != 0) {
      continue;
    }
    deviceDue += pair.bytesPerSecond * (1 + pair.devicePpm * 1e-6) * ratio / 100;
    auto take = static_cast<std::uint64_t>(deviceDue) - played;
    take -= take % pair.frameBytes;
    const bool short_ = written - played < take;
    if (short_) {
      ++outcome.underruns;
      outcome.laterUnderruns += ms >= measureFrom * 1000 ? 1 : 0;
      outcome.gaps += underrunning ? 0 : 1;
      take = written - played;  // the device plays silence for the rest
      deviceDue = static_cast<double>(played + take);
    }
    underrunning = short_;
    if (take > 0 && ms >= measureFrom * 1000) {
      const auto shift =
          std::upper_bound(shifts.begin(), shifts.end(), played,
                           [](std::uint64_t at, const auto& from) { return at < from.first; });
      const double captured =
          static_cast<double>(played + std::prev(shift)->second) / pair.bytesPerSecond;
      const double heard = ms / 1000.0 + static_cast<double>(deviceQueue) / pair.bytesPerSecond;
      outcome.latestHeard = std::max(outcome.latestHeard, heard - captured);
    }
    played += take;
    ratio = controller.Tick(ms / 1000.0);
    outcome.ratioMin = std::min(outcome.ratioMin, ratio);
    outcome.ratioMax = std::max(outcome.ratioMax, ratio);
  }
  outcome.largestStep = controller.largestStep();
  return outcome;
}

constexpr double kTenMinutes = 600;
constexpr double kFirstMinute = 60;

// Either clock faster, on either side, and both writers: after the first
// two minutes the queue holds within 5 ms and the ring never runs dry (a
// sender 4000 ppm fast leaves the loop a tenth of its range to bring the
// start down to the target with).
TEST(PlaybackRate, HoldsTheQueueSteadyWhicheverClockIsFaster) {
  const Pair pairs[] = {{2000, 0},
                        {-2000, 0},
                        {0, 2000},
                        {0, -2000},
                        {4000, 0, 176400, 4, false},
                        {-4000, 0, 176400, 4, false},
                        {0, 0}};
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(testing::Message() << "sender " << pair.senderPpm << " ppm, device "
                                    << pair.devicePpm << " ppm, whole chunks " << pair.wholeChunks);
    const Outcome outcome = Simulate(pair, kTenMinutes, 2 * kFirstMinute);
    EXPECT_EQ(outcome.underruns, 0);
    EXPECT_LE(Drift(outcome), 0.005);
    EXPECT_GE(outcome.ratioMin, 1 - PlaybackController::kMaxDeviation);
    EXPECT_LE(outcome.ratioMax, 1 + PlaybackController::kMaxDeviation);
    EXPECT_LE(outcome.largestStep, PlaybackController::kMaxStep + 1e-12);
    EXPECT_GT(outcome.largestStep, 0.0);
  }
}

// The start, about 65 ms above the target for the CD format on a link with
// no jitter, is brought to it within the first half minute and held there
// from then on, whichever clock is faster (a start kept where it set
// itself up gives up nothing).
TEST(PlaybackRate, BringsTheStartToTheTargetAndThenHolds) {
  for (double ppm : {-200.0, 0.0, 200.0}) {
    SCOPED_TRACE(ppm);
    const Outcome outcome = Simulate({ppm, 0}, 120, 30, 10);
    EXPECT_EQ(outcome.underruns, 0);
    EXPECT_LE(Drift(outcome), 0.005);
    const double givenUp = outcome.latencies[7] - Median(outcome.latencies);
    EXPECT_GT(givenUp, 0.055);
    EXPECT_LT(givenUp, 0.075);
  }
}

// A device with a 50 ms queue leaves the start 80 ms deep: the level is
// brought down to the target at a bounded speed fed forward, and then holds
// (two clocks 2000 ppm apart, either way) within a minute.
TEST(PlaybackRate, BringsADeepStartDownAndThenHolds) {
  for (double ppm : {-2000.0, 2000.0}) {
    SCOPED_TRACE(ppm);
    Pair pair{ppm, 0};
    pair.deviceQueueMs = 50;
    const Outcome outcome = Simulate(pair, 180, 60, 10);
    EXPECT_EQ(outcome.underruns, 0);
    EXPECT_LE(Drift(outcome), 0.005);
    // The first second's latency less the settled one: what was given up,
    // the start's least headroom (about 80 ms) less the target.
    const double givenUp = outcome.latencies[7] - Median(outcome.latencies);
    EXPECT_GT(givenUp, 0.045);
    EXPECT_LT(givenUp, 0.065);
    EXPECT_LE(outcome.ratioMax, 1 + PlaybackController::kMaxDeviation);
    EXPECT_GE(outcome.ratioMin, 1 - PlaybackController::kMaxDeviation);
  }
}

// Chunks up to 60 ms late, in order (a busy machine, the sender's 25 ms
// capture fragments): the controller keeps headroom for the latest of them,
// so the ring never runs dry once it has settled, and the queue still holds.
TEST(PlaybackRate, KeepsHeadroomForLateChunks) {
  for (double ppm : {-2000.0, 0.0, 2000.0}) {
    SCOPED_TRACE(ppm);
    Pair pair{ppm, 0};
    pair.jitterMs = 60;
    const Outcome outcome = Simulate(pair, kTenMinutes, kFirstMinute);
    EXPECT_EQ(outcome.laterUnderruns, 0);
    EXPECT_LE(Drift(outcome), 0.005);
  }
}

// One chunk 60 ms late runs the start's 40 ms of headroom dry; the target
// then rises, so that the next such chunk two minutes later plays on.
TEST(PlaybackRate, AfterALateChunkKeepsTheHeadroomItWouldHaveNeeded) {
  Pair pair{0, 0};
  pair.lateEveryTwoMinutesMs = 60;
  const Outcome outcome = Simulate(pair, 300, 200);
  EXPECT_GT(outcome.underruns, 0);
  EXPECT_EQ(outcome.laterUnderruns, 0);
}

// The device settles 15 ms deeper after three minutes: the controller lets
// the ring give that up, so the latency does not move; told nothing of the
// device's queue, it would refill the ring and keep the 15 ms.
TEST(PlaybackRate, HoldsTheLatencyWhenTheDevicesQueueGrows) {
  for (bool reported : {true, false}) {
    SCOPED_TRACE(reported);
    Pair pair{200, 0};
    pair.jitterMs = 30;  // a target of about 40 ms, so that the ring keeps 25 after the step
    pair.deviceStepMs = 15;
    pair.deviceStepSeconds = 180;
    pair.deviceReported = reported;
    const Outcome outcome = Simulate(pair, kTenMinutes, kFirstMinute);
    EXPECT_EQ(outcome.underruns, 0);
    if (reported) {
      EXPECT_LE(Drift(outcome), 0.005);
    } else {
      EXPECT_GT(Drift(outcome), 0.010);
    }
  }
}

// Without the rate loop the same pairs drift: the backlog grows by 2 ms a
// second (and, with no stall, is never skipped), or the ring runs dry, so
// the simulation can tell the two apart.
TEST(PlaybackRate, WithoutItTheSamePairsDriftOrRunDry) {
  Pair faster{2000, 0};
  faster.corrected = false;
  const Outcome growing = Simulate(faster, kTenMinutes, kFirstMinute);
  EXPECT_EQ(growing.skipped, 0u);
  EXPECT_GT(Drift(growing), 0.9);  // 2 ms a second over the nine minutes measured
  Pair slower{-2000, 0};
  slower.corrected = false;
  EXPECT_GT(Simulate(slower, kTenMinutes, kFirstMinute).underruns, 0);
}

// Mono 16-bit at 44100 Hz: a chunk (278 ms) is longer than the ring
// (250 ms), so the ring is full for a while after each chunk and some of
// the chunk waits in the queue. The headroom is still found (the start,
// where the first chunk alone cannot fill the ring, may run dry).
TEST(PlaybackRate, FollowsAFormatWhoseChunkIsLongerThanTheRing) {
  for (double ppm : {-2000.0, 0.0, 2000.0}) {
    SCOPED_TRACE(ppm);
    const Outcome outcome = Simulate({ppm, 0, 88200, 2, false}, kTenMinutes, kFirstMinute);
    EXPECT_EQ(outcome.laterUnderruns, 0);
    EXPECT_LE(Drift(outcome), 0.005);
  }
}

// A stream whose landings all find nothing held (the sender went quiet
// between tiny pieces) slows the device by the limit at most, one bounded
// step at a time, and one that finds the ring full speeds it up.
TEST(PlaybackRate, StaysWithinItsLimitsWhenTheRingIsEmptyOrFull) {
  for (std::uint64_t held : {std::uint64_t{0}, std::uint64_t{44100}}) {
    PlaybackController controller({176400, 4});
    controller.OnPlaybackStarted();
    double previous = 1;
    for (int step = 0; step < 10000; ++step) {
      const double now = step * 0.01;
      // Level learnt from a middling start, then the extreme from then on.
      controller.OnArrival(now, 1764, step < 500 ? 8820 : held);
      const double ratio = controller.Tick(now);
      EXPECT_LE(std::fabs(ratio - previous), PlaybackController::kMaxStep + 1e-12);
      previous = ratio;
    }
    const double limit =
        held == 0 ? 1 - PlaybackController::kMaxDeviation : 1 + PlaybackController::kMaxDeviation;
    EXPECT_NEAR(previous, limit, 1e-9);
  }
}

// A CD-format stream on time, chunk after chunk, as the receiver sees it.
class ArrivalClock {
 public:
  explicit ArrivalClock(PlaybackController& controller) : controller_(controller) {
    controller_.OnPlaybackStarted();
  }
  // Chunks on time for seconds, then one lateMs late.
  void OnTime(double seconds) {
    for (double end = now_ + seconds; now_ < end; now_ += kChunkSeconds) {
      Land(now_);
    }
  }
  void Late(double lateSeconds) { Land(now_ + lateSeconds); }
  double now() const { return now_; }

 private:
  static constexpr double kChunkSeconds = kChunk / 176400.0;
  void Land(double at) {
    controller_.OnArrival(at, kChunk, 8820);
    controller_.Tick(at);
  }
  PlaybackController& controller_;
  double now_ = 0;
};

// A late chunk raises the target with its own landing: one 30 ms late (as
// jitter is) by a tenth more and 10 ms, one 250 ms late (as a hold is) by a
// whole chunk's interval more, since the same hold may strike where it
// delays a chunk that much more. On-time chunks leave it at the floor.
TEST(PlaybackTarget, RisesAtOnceForALateChunk) {
  PlaybackController controller({176400, 4});
  ArrivalClock clock(controller);
  clock.OnTime(20);
  EXPECT_DOUBLE_EQ(controller.targetSeconds(), PlaybackController::kFloorSeconds);
  clock.Late(0.03);
  EXPECT_NEAR(controller.targetSeconds(),
              0.03 * PlaybackController::kLateMargin + PlaybackController::kHeadroomMargin, 0.002);
  clock.OnTime(5);
  clock.Late(0.25);
  EXPECT_NEAR(controller.targetSeconds(),
              0.25 + PlaybackController::kHeadroomMargin + kChunk / 176400.0, 0.006);
  // The baseline may have risen by kBaselineDrift over the hold.
  EXPECT_NEAR(controller.latenessSeconds(), 0.25, 0.005);
}

// Once the link calms the target stays while the spike is remembered, then
// falls in small steps over tens of seconds, back to the floor.
TEST(PlaybackTarget, FallsSlowlyOnceTheLinkCalms) {
  PlaybackController controller({176400, 4});
  ArrivalClock clock(controller);
  clock.OnTime(20);
  clock.Late(0.25);
  const double raised = controller.targetSeconds();
  clock.OnTime(PlaybackController::kMemorySeconds - 2.0);
  EXPECT_DOUBLE_EQ(controller.targetSeconds(), raised);
  double previous = raised;
  double largestFall = 0;
  for (int second = 0; second < 15; ++second) {
    clock.OnTime(1);
    largestFall = std::max(largestFall, previous - controller.targetSeconds());
    previous = controller.targetSeconds();
  }
  EXPECT_LT(controller.targetSeconds(), raised);
  EXPECT_GT(controller.targetSeconds(), (raised + PlaybackController::kFloorSeconds) / 2);
  // At most two seconds end within one call.
  EXPECT_LE(largestFall, 2 * raised / PlaybackController::kFallSeconds + 1e-9);
  clock.OnTime(240);
  EXPECT_NEAR(controller.targetSeconds(), PlaybackController::kFloorSeconds, 0.001);
}

// A hold that keeps coming is taken at the worst it struck within the last
// ten minutes, though it has since struck only where it delays a chunk less
// (it may strike the worse place again); those sightings bound it to 150 ms
// and an interval, so its margin shrinks to what that leaves. Once nothing
// but jitter came for the target's memory, it falls.
TEST(PlaybackTarget, KeepsARecurringHoldAtItsWorst) {
  PlaybackController controller({176400, 4});
  ArrivalClock clock(controller);
  clock.OnTime(20);
  clock.Late(0.25);
  double least = 1;
  for (int hold = 0; hold < 12; ++hold) {
    clock.OnTime(30);
    clock.Late(0.15);
    least = std::min(least, controller.targetSeconds());
  }
  EXPECT_GT(least, 0.25 + PlaybackController::kHeadroomMargin);
  EXPECT_LT(controller.targetSeconds(),
            0.15 + kChunk / 176400.0 + PlaybackController::kHeadroomMargin + 0.005);
  clock.OnTime(PlaybackController::kMemorySeconds + 60);
  EXPECT_LT(controller.targetSeconds(), 0.1);
}

// On a link whose every second brings a chunk 120 ms late, that jitter is
// no sighting of a hold seen 250 ms late: the hold keeps a whole
// interval's margin.
TEST(PlaybackTarget, TakesNoJitterForASightingOfAHold) {
  PlaybackController controller({176400, 4});
  ArrivalClock clock(controller);
  for (int second = 0; second < 60; ++second) {
    clock.OnTime(1);
    clock.Late(0.12);
  }
  clock.OnTime(1);
  clock.Late(0.25);
  EXPECT_GT(controller.targetSeconds(), 0.25 + kChunk / 176400.0);
}

// A sender whose source stopped for a while goes on with no backlog: the
// pause is one gap, and the stream's clock follows the sender's, so that
// the target comes back down (it rises with the first late landing, which
// could be a hold) instead of every chunk reading late for minutes.
TEST(PlaybackTarget, FollowsASenderThatPausedButNotABusyReceiver) {
  for (long pauseMs : {700L, 2500L}) {
    SCOPED_TRACE(pauseMs);
    Pair pair{0, 0};
    pair.jitterMs = 5;
    pair.pauseMs = pauseMs;
    pair.pauseSeconds = 60;
    const Outcome outcome = Simulate(pair, 160, 0);
    EXPECT_EQ(outcome.gaps, 1);
    EXPECT_LT(outcome.targets.back(), 0.1);
  }
  // A receiver kept from reading for a moment just as a hold's backlog
  // lands sees one more landing at pace as late, then the rest at once:
  // still a hold, whose headroom is kept for the next ones.
  for (long busyMs : {100L, 150L}) {
    SCOPED_TRACE(busyMs);
    Pair pair{0, 0};
    pair.jitterMs = 5;
    pair.holdMs = 250;
    pair.holdEverySeconds = 15;
    pair.firstHoldSeconds = 14;
    pair.starveAfterHoldMs = busyMs;
    const Outcome outcome = Simulate(pair, 75, 0);
    EXPECT_EQ(outcome.gaps, 1);  // of five holds
    EXPECT_GT(outcome.targets.back(), 0.25);
  }
}

// A fixed target stays where it was set, whatever comes late, and is held:
// the stream runs with that much headroom once settled.
TEST(PlaybackTarget, AFixedTargetStaysAndIsHeld) {
  PlaybackController controller({176400, 4, 0.3});
  ArrivalClock clock(controller);
  clock.OnTime(5);
  clock.Late(0.6);
  EXPECT_DOUBLE_EQ(controller.targetSeconds(), 0.3);
  Pair pair{0, 0};
  pair.fixedTargetSeconds = 0.2;
  pair.lateEveryTwoMinutesMs = 150;
  const Outcome outcome = Simulate(pair, 300, 100);
  EXPECT_EQ(outcome.laterUnderruns, 0);
  // The start's 90 ms of headroom grew to 200 ms: the latency grew by 110 ms.
  EXPECT_NEAR(Median(outcome.latencies) - outcome.latencies[40], 0.11, 0.03);
}

// A link that holds everything for 250 ms every 33 s, or every 15 s: the
// first hold is a gap; the others play on, even one that strikes where it
// delays a chunk more than the first did (a hold lands anywhere between two
// chunks, 139 ms apart), or that comes 15 s after the first, before the
// rate could have filled the new target (with a sender 2000 ppm slow it
// has a tenth of its range to fill with); and the latency settles instead
// of growing by a hold each time. From 30 s, each hold of every 33 s
// strikes about 19 ms further than the one before from where it delays a
// chunk most, and the fourth comes back next to it.
TEST(PlaybackTarget, AbsorbsRecurringHoldsAfterTheFirst) {
  for (long every : {33, 15}) {
    for (double ppm : {-2000.0, 0.0, 2000.0}) {
      for (long first : {20, 30}) {
        SCOPED_TRACE(testing::Message() << ppm << " ppm, every " << every << " s from " << first);
        Pair pair{ppm, 0};
        pair.jitterMs = 5;
        pair.holdMs = 250;
        pair.holdEverySeconds = every;
        pair.firstHoldSeconds = first;
        const Outcome outcome = Simulate(pair, kTenMinutes, kFirstMinute);
        EXPECT_EQ(outcome.gaps, 1);  // of 18 or 39 holds
        EXPECT_EQ(outcome.skipped, 0u);
        EXPECT_LT(*std::max_element(outcome.latencies.begin(), outcome.latencies.end()), 0.9);
        // Seen again and again, the hold needs less margin than a whole
        // chunk's interval (which would keep the target near 400 ms).
        EXPECT_LT(outcome.targets.back(), 0.33);
      }
    }
  }
}

// A 3 s outage: the backlog that floods in afterwards is skipped, in whole
// frames, down to near the target, so that nothing plays more than
// kLatestSeconds (and what the device and the link hold) late; a 600 ms
// hold leaves an excess that is played out instead.
TEST(PlaybackTarget, SkipsTheBacklogOfALongStallOnly) {
  Pair outage{0, 0};
  outage.holdMs = 3000;
  outage.holdEverySeconds = 1000;
  outage.firstHoldSeconds = 60;
  const Outcome cut = Simulate(outage, 120, 0);
  EXPECT_GT(cut.skipped, 0u);
  EXPECT_EQ(cut.gaps, 1);
  // From 5 s after the link is back (before, the link still held sound).
  const std::size_t back = 68 * 176400 / kChunk;
  EXPECT_LT(cut.latestHeard, 2.0);
  // No target within the ceiling covers a cut this long: it stays put.
  EXPECT_LT(cut.targets.back(), 0.1);
  // Whether the sender kept all of the cut or lost part of it (1.5 s of it
  // leaves a backlog of 1 s, less than a second beyond the target, skipped
  // all the same), from 5 s after the link is back the latency is where it
  // was: the last of the backlog is skipped down to the level once the
  // sender's pace resumes, and a sender's clock moved on by a loss is
  // followed without a lasting lift of the level.
  Pair lost = outage;
  lost.pauseSeconds = 60;
  lost.pauseMs = 1500;
  Pair shorter = lost;
  shorter.holdMs = 2000;
  shorter.pauseMs = 1000;
  shorter.jitterMs = 5;
  const std::size_t first = 30 * 176400 / kChunk;
  const std::size_t last = 60 * 176400 / kChunk;
  for (const Outcome& run : {cut, Simulate(lost, 120, 0), Simulate(shorter, 120, 0)}) {
    EXPECT_GT(run.skipped, 0u);
    const double before = Median({run.latencies.begin() + first, run.latencies.begin() + last});
    const double after = *std::max_element(run.latencies.begin() + back, run.latencies.end());
    EXPECT_LT(after, before + 0.02);
  }
  Pair hold = outage;
  hold.holdMs = 600;
  const Outcome held = Simulate(hold, 120, 0);
  EXPECT_EQ(held.skipped, 0u);
  EXPECT_EQ(held.gaps, 1);
}

}  // namespace
