#include "bench/click_rig.h"

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "bench/click_track.h"
#include "tests/e2e/sound_rig.h"
#include "tests/e2e/tone_checks.h"
#include "tests/support/signal_analysis.h"

namespace twbench {
namespace {

// Both copies of each click are in one recording, so the rig's own buffering
// does not count in the latency: the recorder and the feeder keep queues long
// enough that a busy machine does not break the click track or its record.
constexpr int kRecorderLatencyMs = 40;
constexpr int kFeederLatencyMs = 100;
constexpr size_t kFeedChunkFrames = kRate / 20;
constexpr int kPollMs = 20;
constexpr int kStartWaitMs = 15000;

// The index of the module that made the null sink "Mic".
int MicModule() {
  std::string modules;
  if (!twtest::Pactl({"list", "short", "modules"}, &modules)) {
    return -1;
  }
  std::istringstream lines(modules);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find("module-null-sink") != std::string::npos &&
        line.find("sink_name=Mic ") != std::string::npos) {
      return std::atoi(line.c_str());
    }
  }
  return -1;
}

}  // namespace

ClickRig::~ClickRig() {
  stopFeeding_.store(true);
  if (feeder_ != nullptr) {
    feeder_->Signal(SIGTERM);  // a write it blocks then fails
  }
  if (feedThread_.joinable()) {
    feedThread_.join();
  }
  for (auto* child : {&feeder_, &recorder_}) {
    if (*child != nullptr) {
      (*child)->Signal(SIGTERM);
      (*child)->Wait(5000);
    }
  }
}

bool ClickRig::Start(double longestSeconds, std::string* failure) {
  if (!daemon_.Start(failure)) {
    return false;
  }
  ::setenv("PULSE_SERVER", daemon_.serverAddress().c_str(), 1);
  if (!RewireMic(failure)) {
    return false;
  }
  recorder_ = std::make_unique<twtest::ChildProcess>(
      twtest::RecorderOptions("Speakers.monitor", kRecorderLatencyMs));
  feeder_ = std::make_unique<twtest::ChildProcess>(twtest::PlayerOptions("Mic", kFeederLatencyMs));
  feedThread_ = std::thread([this, longestSeconds] { Feed(longestSeconds); });
  // The click track's tone on the right channel shows that feeder and
  // recorder run.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kStartWaitMs);
  while (Clock::now() < deadline) {
    const std::vector<double> sent = Channel(1, 0, FramesRecorded());
    if (twtest::FirstAbove(sent, kSoundThreshold) < sent.size()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  *failure = "the click track never reached the recording of Speakers";
  return false;
}

bool ClickRig::RewireMic(std::string* failure) {
  const int nullSink = MicModule();
  if (nullSink < 0) {
    *failure = "no null sink Mic on the sound server";
    return false;
  }
  twtest::UnloadModule(nullSink);
  const int remap = twtest::LoadModule({"module-remap-sink", "sink_name=Mic", "master=Speakers",
                                        "channels=2", "channel_map=front-left,front-right",
                                        "master_channel_map=front-right,front-left", "remix=no",
                                        "sink_properties=device.description=Mic"});
  if (remap < 0) {
    *failure = "cannot wire Mic into Speakers";
    return false;
  }
  return true;
}

// Writes the click track as fast as pacat takes it, which is as fast as it
// plays: the pipe and pacat's queue hold it back.
void ClickRig::Feed(double seconds) {
  ClickTrack track;
  const auto chunks = static_cast<long>(seconds * kRate / kFeedChunkFrames);
  for (long i = 0; i < chunks && !stopFeeding_.load(); ++i) {
    const std::vector<std::uint8_t> bytes = track.Next(kFeedChunkFrames);
    if (!feeder_->WriteStdin(bytes.data(), bytes.size())) {
      return;
    }
  }
  feeder_->CloseStdin();
}

size_t ClickRig::FramesRecorded() const {
  return recorder_ == nullptr ? 0 : recorder_->ByteCount() / twtest::kFrameBytes;
}

std::vector<double> ClickRig::Channel(int channel, size_t from, size_t to) const {
  if (to <= from) {
    return {};
  }
  const std::vector<std::uint8_t> bytes =
      recorder_->Bytes(from * twtest::kFrameBytes, (to - from) * twtest::kFrameBytes);
  return twtest::StereoChannel(bytes, channel);
}

// The recorder hands over each frame a little after it was heard: the least
// of those delays ties the recording to the clock.
Clock::duration ClickRig::RecordingOffset() const {
  Clock::duration offset = Clock::duration::max();
  for (const twtest::Arrival& arrival : recorder_->Arrivals()) {
    const auto recorded = std::chrono::duration<double>(
        static_cast<double>(arrival.total / twtest::kFrameBytes) / kRate);
    offset = std::min(offset, arrival.at.time_since_epoch() -
                                  std::chrono::duration_cast<Clock::duration>(recorded));
  }
  return offset;
}

// The least-squares slope of frames over time, from the second second on.
double ClickRig::RecordingRate() const {
  const std::vector<twtest::Arrival> arrivals = recorder_->Arrivals();
  if (arrivals.size() < 2) {
    return kRate;
  }
  const Clock::time_point first = arrivals.front().at;
  twtest::SlopeFit fit;
  for (const twtest::Arrival& arrival : arrivals) {
    const double t = std::chrono::duration<double>(arrival.at - first).count();
    if (t >= 1) {
      fit.Add(t, static_cast<double>(arrival.total / twtest::kFrameBytes));
    }
  }
  return fit.Slope(kRate);
}

size_t ClickRig::FrameAt(Clock::time_point moment) const {
  const double seconds =
      std::chrono::duration<double>(moment.time_since_epoch() - RecordingOffset()).count();
  return seconds <= 0 ? 0 : static_cast<size_t>(seconds * kRate);
}

Clock::time_point ClickRig::MomentOf(size_t frame) const {
  const auto since = std::chrono::duration<double>(static_cast<double>(frame) / kRate);
  return Clock::time_point(RecordingOffset() + std::chrono::duration_cast<Clock::duration>(since));
}

bool ClickRig::WaitForRelayedSound(Clock::time_point after, int timeoutMs,
                                   Clock::time_point* heard) const {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t checked = FrameAt(after);
  while (Clock::now() < deadline) {
    const size_t recorded = FramesRecorded();
    const std::vector<double> relayed = Channel(0, checked, recorded);
    const size_t found = twtest::FirstAbove(relayed, kSoundThreshold);
    if (found < relayed.size()) {
      *heard = MomentOf(checked + found);
      return true;
    }
    checked = std::max(checked, recorded);
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return false;
}

HeardStretch ReadStretch(const ClickRig& rig, Clock::time_point from, Clock::time_point to) {
  HeardStretch stretch;
  const size_t relayedFrom = rig.FrameAt(from);
  const size_t relayedTo = rig.FrameAt(to);
  const auto longest = static_cast<size_t>(kClickKinds * kClickPeriodSeconds * kRate);
  stretch.base = relayedFrom > longest ? relayedFrom - longest : 0;
  stretch.from = relayedFrom - stretch.base;
  stretch.to = relayedTo - stretch.base;
  stretch.relayed = rig.Channel(0, stretch.base, relayedTo);
  stretch.sent = rig.Channel(1, stretch.base, relayedTo);
  stretch.relayedClicks = FindClicks(stretch.relayed, stretch.from, stretch.to);
  stretch.sentClicks = FindClicks(stretch.sent, 0, stretch.to);
  return stretch;
}

}  // namespace twbench
