// The stream benchmark's measuring rig, on a private sound server:
//
//   "Mic"       a sink wired into "Speakers" with its channels crossed, so
//               that what is played into Mic's left channel is heard at once
//               on the right channel of "Speakers"; its monitor "Mic.monitor"
//               ("Monitor of Mic") is the capture device of the setup under
//               test, which plays into "Speakers".
//   feeder      pacat playing the click track into "Mic", all along.
//   recorder    parec on "Speakers.monitor", all along: left = relayed by the
//               setup, right = the click track as it was sent.
//
// Sent and relayed sound share one recording and one clock, so a delay is a
// count of samples. The moments of the recording are tied to the wall clock
// through the times the recorder's output arrived.
//
// Thread contract: one owner thread; the feeder has a thread of its own.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/click_track.h"
#include "tests/support/child_process.h"
#include "tests/support/pulse_daemon.h"

namespace twbench {

using twtest::Clock;

class ClickRig {
 public:
  ClickRig() = default;
  ~ClickRig();
  ClickRig(const ClickRig&) = delete;
  ClickRig& operator=(const ClickRig&) = delete;

  // Starts the sound server (PULSE_SERVER points to it afterwards), rewires
  // "Mic", starts the feeder and the recorder, and waits until both run.
  bool Start(double longestSeconds, std::string* failure);

  // Frames of the recording so far, and one channel of [from, to).
  size_t FramesRecorded() const;
  std::vector<double> Channel(int channel, size_t from, size_t to) const;

  // The recording's frame heard at a moment, and the other way round.
  size_t FrameAt(Clock::time_point moment) const;
  Clock::time_point MomentOf(size_t frame) const;

  // Frames the recorder gets per second of our clock, fitted to its whole
  // recording so far: a null sink's clock is a device clock too, and runs a
  // little off the nominal rate (about -80 ppm when a 25 ms stream sets its
  // period, since each period is a whole number of frames).
  double RecordingRate() const;

  // The first frame after `after` whose relayed (left) channel holds sound;
  // false after timeoutMs.
  bool WaitForRelayedSound(Clock::time_point after, int timeoutMs, Clock::time_point* heard) const;

 private:
  bool RewireMic(std::string* failure);
  void Feed(double seconds);
  Clock::duration RecordingOffset() const;

  twtest::PulseDaemon daemon_;
  std::unique_ptr<twtest::ChildProcess> feeder_;
  std::unique_ptr<twtest::ChildProcess> recorder_;
  std::thread feedThread_;
  std::atomic<bool> stopFeeding_{false};
};

// A stretch [from, to) of our clock as the recording holds it, with its
// clicks: both channels from the longest delay a click can be told at
// (kClickKinds periods) before `from` on, so that every relayed click's sent
// partner is in. Indices into the channels; `base` is the recording's frame
// of index 0.
struct HeardStretch {
  size_t base = 0;
  size_t from = 0;
  size_t to = 0;
  std::vector<double> relayed;
  std::vector<double> sent;
  std::vector<Click> relayedClicks;
  std::vector<Click> sentClicks;
};
HeardStretch ReadStretch(const ClickRig& rig, Clock::time_point from, Clock::time_point to);

}  // namespace twbench
