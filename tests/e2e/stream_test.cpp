// Both programs end to end through a private sound server: a tonewire-cli
// Server plays into the null sink "Speakers", a tonewire-cli Client captures
// a steady 1000 Hz tone, and the sound server's own recorder (parec) records
// "Speakers.monitor". The tone is played into the null sink "Mic" by the
// server's sine generator (by pacat on PipeWire), and the Client captures
// "Monitor of Mic".
//
// The checks share their runs: one long run at full volume (the tone's
// frequency, level and continuity over 20 s, then a change of Client), one
// short run at -20 dB, one short run from a source that delivers in bursts.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/stream_header.h"
#include "tests/e2e/sound_rig.h"
#include "tests/e2e/stall_watch.h"
#include "tests/e2e/tone_checks.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/pulse_environment.h"
#include "tests/support/signal_analysis.h"

namespace twtest {
namespace {

namespace peer = twtest::peer;

constexpr double kToneHz = 1000;
constexpr int kWaitMs = 15000;  // a status line or sound; normally well under a second
constexpr int kExitMs = 10000;
constexpr int kPollMs = 100;
constexpr int kRecorderLatencyMs = 20;
constexpr double kSoundThreshold = 0.01;  // far above silence, far below the tone
constexpr double kSettleSeconds = 1.0;    // the start of playback is left out
constexpr double kGapCheckSeconds = 20.0;
constexpr size_t kGapWindow = kRecordRate / 50;  // 20 ms
constexpr double kGapFloorDb = -40;
// A clean 16-bit tone leaves about 2 / 32768 (see LargestBreak); a jump by one
// sample of a 1000 Hz tone at half scale leaves about 0.07.
constexpr double kLargestCleanBreak = 0.005;
constexpr double kBurstRunSeconds = 9.0;
constexpr double kBurstPaceFrom = 3.0;  // seconds after "Got config": the first burst is in

constexpr char kToneSink[] = "Mic";
constexpr char kToneCapture[] = "Monitor of Mic";
constexpr char kBurstCapture[] = "Sine source";  // the server's own sine source
constexpr char kPlayback[] = "Speakers";
constexpr char kRecorded[] = "Speakers.monitor";

constexpr char kWaiting[] = "Wait for incoming...";
constexpr char kGotConfig[] = "Got config";

std::unique_ptr<ChildProcess> StartCli(const std::vector<std::string>& arguments) {
  ChildOptions options;
  options.argv = {TW_CLI_PATH};
  options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
  return std::make_unique<ChildProcess>(options);
}

std::string Described(const ChildProcess& child) {
  std::ostringstream text;
  text << "\n  stdout:";
  for (const TimedLine& line : child.Lines()) {
    text << "\n    " << line.text;
  }
  text << "\n  stderr:";
  for (const std::string& line : child.ErrorLines()) {
    text << "\n    " << line;
  }
  return text.str();
}

// A Server on a free port, waiting for its first Client; -v keeps every
// "Received" text on the pipe, which ReceivedSince counts.
std::unique_ptr<ChildProcess> StartServer(int port, int volumeDb, std::string* failure,
                                          const std::string& device = kPlayback) {
  auto server = StartCli({"server", "-v", "--port", std::to_string(port), "--device", device,
                          "--volume", std::to_string(volumeDb)});
  if (!server->WaitForLine(kWaiting, kWaitMs)) {
    *failure = "the Server did not wait for a Client:" + Described(*server);
  }
  return server;
}

std::unique_ptr<ChildProcess> StartClient(int port, const std::string& device) {
  return StartCli({"client", "127.0.0.1", "--port", std::to_string(port), "--device", device});
}

// The sine generator plays into "Mic" for the whole test program.
bool PlayToneIntoMic(std::string* failure) {
  static const bool playing = PlayToneInto(kToneSink, static_cast<int>(kToneHz));
  if (!playing) {
    *failure = "no tone generator plays into Mic";
  }
  return playing;
}

// Waits until the recording holds sound at or after fromByte; its first
// sample (frame index), or -1.
long WaitForSound(ChildProcess& recorder, std::uint64_t fromByte) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (Clock::now() < deadline) {
    const std::vector<double> left = StereoChannel(recorder.Bytes(), 0);
    const size_t start = FirstAbove(left, kSoundThreshold, fromByte / kFrameBytes);
    if (start < left.size()) {
      return static_cast<long>(start);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return -1;
}

// Records until `seconds` of sound follow soundStart.
bool RecordFor(ChildProcess& recorder, long soundStart, double seconds) {
  const auto frames = static_cast<std::uint64_t>(soundStart + seconds * kRecordRate);
  const int timeoutMs = kWaitMs + static_cast<int>(seconds * 1000);
  return recorder.WaitForBytes(frames * kFrameBytes, timeoutMs);
}

Span SecondsAfter(long soundStart, double from, double seconds) {
  return Span{static_cast<size_t>(soundStart + from * kRecordRate),
              static_cast<size_t>(seconds * kRecordRate)};
}

// The tone as it is captured: "Monitor of Mic" recorded straight.
struct Reference {
  std::string failure;
  double rms = 0;
};

const Reference& ToneReference() {
  static const Reference reference = [] {
    Reference measured;
    if (!PlayToneIntoMic(&measured.failure)) {
      return measured;
    }
    ChildProcess recorder(RecorderOptions(std::string(kToneSink) + ".monitor", kRecorderLatencyMs));
    const long start = WaitForSound(recorder, 0);
    if (start < 0 || !RecordFor(recorder, start, 1.5)) {
      measured.failure = "no tone recorded from Mic.monitor";
      return measured;
    }
    measured.rms = RmsOf(StereoChannel(recorder.Bytes(), 0), SecondsAfter(start, 0.5, 1.0));
    std::printf("[ tone     ] captured straight: %.2f dBFS RMS\n", DecibelsOf(measured.rms));
    return measured;
  }();
  return reference;
}

// The long run at full volume, with a change of Client at its end.
struct FullVolumeRun {
  std::string failure;
  std::vector<double> left;
  std::vector<double> right;
  long soundStart = -1;
  std::vector<MachineStall> stalls;  // timed from the first sound
  int firstClientExit = -1;
  bool waitedAgain = false;      // "Wait for incoming..." after the first Client stopped
  bool configuredAgain = false;  // "Got config" for the second Client
  bool soundResumed = false;     // and its sound reached the speakers
  int serverExit = -1;
  std::string serverOutput;
};

void ChangeClient(ChildProcess& server, ChildProcess& recorder,
                  std::unique_ptr<ChildProcess>& client, int port, FullVolumeRun& run) {
  client->Signal(SIGTERM);
  run.firstClientExit = client->Wait(kExitMs);
  run.waitedAgain = server.WaitForLine(kWaiting, kWaitMs, 2);
  // The last of the first Client's sound has left the recorder by now.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::uint64_t mark = recorder.ByteCount();
  client = StartClient(port, kToneCapture);
  run.configuredAgain = server.WaitForLine(kGotConfig, kWaitMs, 2);
  run.soundResumed = run.configuredAgain && WaitForSound(recorder, mark) >= 0;
  client->Signal(SIGTERM);
  client->Wait(kExitMs);
}

const FullVolumeRun& StreamAtFullVolume() {
  static const FullVolumeRun result = [] {
    FullVolumeRun run;
    if (!PlayToneIntoMic(&run.failure)) {
      return run;
    }
    const int port = FreeLoopbackPort();
    std::unique_ptr<ChildProcess> server = StartServer(port, 0, &run.failure);
    if (!run.failure.empty()) {
      return run;
    }
    const StallWatch watch;
    ChildProcess recorder(RecorderOptions(kRecorded, kRecorderLatencyMs));
    std::unique_ptr<ChildProcess> client = StartClient(port, kToneCapture);
    run.soundStart = WaitForSound(recorder, 0);
    const StallWatch::Clock::time_point soundStartAt = FirstSoundTime(recorder, run.soundStart);
    if (run.soundStart < 0 ||
        !RecordFor(recorder, run.soundStart, kSettleSeconds + kGapCheckSeconds + 0.5)) {
      run.failure = "no 21 s of sound from the Server:" + Described(*server) + Described(*client);
      return run;
    }
    run.stalls = watch.Since(soundStartAt);
    const std::vector<std::uint8_t> pcm = recorder.Bytes();
    run.left = StereoChannel(pcm, 0);
    run.right = StereoChannel(pcm, 1);
    ChangeClient(*server, recorder, client, port, run);
    server->Signal(SIGTERM);
    run.serverExit = server->Wait(kExitMs);
    run.serverOutput = Described(*server);
    return run;
  }();
  return result;
}

// A short run: the tone's level after the start, at the given volume.
double LevelAtVolume(int volumeDb, std::string* failure) {
  const int port = FreeLoopbackPort();
  std::unique_ptr<ChildProcess> server = StartServer(port, volumeDb, failure);
  if (!failure->empty()) {
    return 0;
  }
  ChildProcess recorder(RecorderOptions(kRecorded, kRecorderLatencyMs));
  std::unique_ptr<ChildProcess> client = StartClient(port, kToneCapture);
  // A tenth of the tone's level is still far above the threshold.
  const long start = WaitForSound(recorder, 0);
  if (start < 0 || !RecordFor(recorder, start, kSettleSeconds + 2.0)) {
    *failure = "no sound from the Server:" + Described(*server) + Described(*client);
    return 0;
  }
  return RmsOf(StereoChannel(recorder.Bytes(), 0), SecondsAfter(start, kSettleSeconds, 2.0));
}

class ToneThroughBothPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    TW_REQUIRE_PULSE();
    ASSERT_TRUE(ToneReference().failure.empty()) << ToneReference().failure;
  }

  static Span CheckedSpan(const FullVolumeRun& run) {
    return SecondsAfter(run.soundStart, kSettleSeconds, kGapCheckSeconds);
  }
};

TEST_F(ToneThroughBothPrograms, KeepsItsFrequency) {
  const FullVolumeRun& run = StreamAtFullVolume();
  ASSERT_TRUE(run.failure.empty()) << run.failure;
  const Span span = CheckedSpan(run);
  for (const std::vector<double>* channel : {&run.left, &run.right}) {
    const std::vector<double> checked(channel->begin() + span.from,
                                      channel->begin() + span.from + span.count);
    const double hz = FrequencyHz(checked, kRecordRate);
    std::printf("[ measured ] %.3f Hz\n", hz);
    EXPECT_NEAR(hz, kToneHz, kToneHz * 0.01);
  }
}

TEST_F(ToneThroughBothPrograms, KeepsItsLevelAtFullVolume) {
  const FullVolumeRun& run = StreamAtFullVolume();
  ASSERT_TRUE(run.failure.empty()) << run.failure;
  for (const std::vector<double>* channel : {&run.left, &run.right}) {
    const double gainDb = DecibelsOf(RmsOf(*channel, CheckedSpan(run)) / ToneReference().rms);
    std::printf("[ measured ] %+.2f dB against the captured tone\n", gainDb);
    EXPECT_NEAR(gainDb, 0.0, 1.0);
  }
}

TEST_F(ToneThroughBothPrograms, IsTwentyDecibelsLowerAtVolumeMinus20) {
  std::string failure;
  const double level = LevelAtVolume(-20, &failure);
  ASSERT_TRUE(failure.empty()) << failure;
  const double gainDb = DecibelsOf(level / ToneReference().rms);
  std::printf("[ measured ] %+.2f dB against the captured tone\n", gainDb);
  EXPECT_NEAR(gainDb, -20.0, 1.0);
}

TEST_F(ToneThroughBothPrograms, HasNoQuietStretchInTwentySeconds) {
  const FullVolumeRun& run = StreamAtFullVolume();
  ASSERT_TRUE(run.failure.empty()) << run.failure;
  PrintStalls(run.stalls);
  for (const std::vector<double>* channel : {&run.left, &run.right}) {
    const Stretch quietest =
        QuietestStretch(*channel, CheckedSpan(run), kGapWindow, ToneReference().rms);
    const double atSeconds = static_cast<double>(quietest.at - run.soundStart) / kRecordRate;
    std::printf("[ measured ] quietest 20 ms: %.2f dB at %.3f s\n", quietest.levelDb, atSeconds);
    const std::vector<size_t> gaps =
        UnexplainedByStalls(QuietStretchesBelow(*channel, CheckedSpan(run), kGapWindow,
                                                ToneReference().rms, kGapFloorDb),
                            run.soundStart, run.stalls, "gap");
    EXPECT_TRUE(gaps.empty()) << gaps.size() << " quiet 20 ms that no stall explains";
  }
}

// A gap that the ring fills with older sound keeps the level but breaks the
// waveform. Reported, not asserted: one playback underrun on a machine busy
// with other work gives a break (seen once at 2.6 s while two builds ran),
// and the design has no way to take such a gap back out. The quiet-stretch
// check above is the assertion.
TEST_F(ToneThroughBothPrograms, ReportsTheLargestBreakInTwentySeconds) {
  const FullVolumeRun& run = StreamAtFullVolume();
  ASSERT_TRUE(run.failure.empty()) << run.failure;
  for (const std::vector<double>* channel : {&run.left, &run.right}) {
    const Break largest = LargestBreak(*channel, CheckedSpan(run), kToneHz);
    const double atSeconds = static_cast<double>(largest.at - run.soundStart) / kRecordRate;
    std::printf("[ measured ] largest break %.5f of full scale at %.3f s%s\n", largest.size,
                atSeconds, largest.size < kLargestCleanBreak ? "" : " (a break)");
  }
}

class ClientChange : public ::testing::Test {
 protected:
  void SetUp() override { TW_REQUIRE_PULSE(); }
};

TEST_F(ClientChange, ServerWaitsAgainWhenTheClientStops) {
  const FullVolumeRun& run = StreamAtFullVolume();
  ASSERT_TRUE(run.failure.empty()) << run.failure;
  EXPECT_EQ(run.firstClientExit, 0);
  EXPECT_TRUE(run.waitedAgain) << run.serverOutput;
}

TEST_F(ClientChange, ServerPlaysTheNextClient) {
  const FullVolumeRun& run = StreamAtFullVolume();
  ASSERT_TRUE(run.failure.empty()) << run.failure;
  EXPECT_TRUE(run.configuredAgain) << run.serverOutput;
  EXPECT_TRUE(run.soundResumed);
  EXPECT_EQ(run.serverExit, 0) << run.serverOutput;
}

// Bytes in the Server's "Received N BYTES" lines from `from` on.
std::uint64_t ReceivedSince(const ChildProcess& server, Clock::time_point from) {
  std::uint64_t total = 0;
  for (const TimedLine& line : server.Lines()) {
    int chunk = 0;
    int bytes = 0;
    if (line.at >= from && std::sscanf(line.text.c_str(), "Received %d %d", &chunk, &bytes) == 2) {
      total += static_cast<std::uint64_t>(bytes);
    }
  }
  return total;
}

class BurstySource : public ::testing::Test {
 protected:
  void SetUp() override { TW_REQUIRE_PULSE(); }
};

// The sound server's sine source hands its sound over two seconds at a time;
// a real-time capture device never lets a recording fall that far behind, so
// every byte of it must still reach the Server (a burst written straight into
// the Client's quarter-second ring would lap the reader and lose about three
// quarters of the sound).
TEST_F(BurstySource, IsSentAtThePaceItIsCaptured) {
  const int port = FreeLoopbackPort();
  std::string failure;
  std::unique_ptr<ChildProcess> server = StartServer(port, 0, &failure);
  ASSERT_TRUE(failure.empty()) << failure;
  std::unique_ptr<ChildProcess> client = StartClient(port, kBurstCapture);
  ASSERT_TRUE(server->WaitForLine(kGotConfig, kWaitMs)) << Described(*server) << Described(*client);
  Clock::time_point configured;
  ASSERT_TRUE(server->LineTime(kGotConfig, Clock::time_point(), &configured));
  const Clock::time_point from = configured + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(kBurstPaceFrom));
  std::this_thread::sleep_until(configured + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(kBurstRunSeconds)));
  const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
  const double pace = SecondsOfBytes(ReceivedSince(*server, from)) / seconds;
  std::printf("[ measured ] %.2f s of sound received per second\n", pace);
  // Sound that comes in bursts may be sent in bursts: a burst more or less
  // in the window is a third of it.
  EXPECT_GT(pace, 0.75);
  client->Signal(SIGTERM);
  server->Signal(SIGTERM);
}

// A hand-made Client: a header for 16-bit PCM of any rate and channel count,
// then tone segments sent at real-time pace in 20 ms pieces, then a close.
struct ToneSegment {
  double hz;
  std::uint32_t bytes;
};

void PutWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

std::vector<std::uint8_t> ToneBytes(std::uint32_t rate, std::uint32_t channels,
                                    const std::vector<ToneSegment>& segments) {
  std::vector<std::uint8_t> out;
  double phase = 0;
  for (const ToneSegment& segment : segments) {
    for (std::uint32_t frame = 0; frame < segment.bytes / (2 * channels); ++frame) {
      const auto sample = static_cast<std::int16_t>(16384 * std::sin(phase));
      phase += 2 * M_PI * segment.hz / rate;
      for (std::uint32_t c = 0; c < channels; ++c) {
        out.push_back(static_cast<std::uint8_t>(sample));
        out.push_back(static_cast<std::uint8_t>(sample >> 8));
      }
    }
  }
  return out;
}

// Sends the header and pcm to 127.0.0.1:port; the first `atOnce` bytes go
// at once (as a Client's first blocks would), the rest at real-time pace.
bool SendPaced(int port, std::uint32_t rate, std::uint32_t channels,
               const std::vector<std::uint8_t>& pcm, size_t atOnce) {
  const int fd = peer::Connect(port);
  if (fd < 0) {
    return false;
  }
  std::vector<std::uint8_t> header(kHeaderMagic, kHeaderMagic + 8);
  for (std::uint32_t field : {rate, channels, 16u, rate * channels * 2, channels * 2, 24576u}) {
    PutWord(header, field);
  }
  bool sent =
      peer::SendAll(fd, header.data(), header.size()) && peer::SendAll(fd, pcm.data(), atOnce);
  const size_t piece = rate * channels * 2 / 50;
  const Clock::time_point start = Clock::now();
  for (size_t at = atOnce; sent && at < pcm.size(); at += piece) {
    const double due = static_cast<double>(at - atOnce) / (rate * channels * 2);
    std::this_thread::sleep_until(
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(due)));
    sent = peer::SendAll(fd, pcm.data() + at, std::min(piece, pcm.size() - at));
  }
  peer::Close(fd);
  return sent;
}

// A Server run that plays one hand-made stream into "Speakers" while parec
// records it; the recording's left channel once the Server waits again.
struct PeerStreamRun {
  std::string failure;
  std::vector<double> left;
  long soundStart = -1;
};

PeerStreamRun PlayPeerStream(std::uint32_t rate, std::uint32_t channels,
                             const std::vector<ToneSegment>& segments, size_t atOnce) {
  PeerStreamRun run;
  const int port = FreeLoopbackPort();
  std::unique_ptr<ChildProcess> server = StartServer(port, 0, &run.failure);
  if (!run.failure.empty()) {
    return run;
  }
  ChildProcess recorder(RecorderOptions(kRecorded, kRecorderLatencyMs));
  const std::vector<std::uint8_t> pcm = ToneBytes(rate, channels, segments);
  if (!SendPaced(port, rate, channels, pcm, std::min(atOnce, pcm.size()))) {
    run.failure = "the stream could not be sent:" + Described(*server);
    return run;
  }
  if (!server->WaitForLine(kWaiting, kWaitMs, 2)) {
    run.failure = "the Server did not wait again:" + Described(*server);
    return run;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the recorder's tail
  run.left = StereoChannel(recorder.Bytes(), 0);
  run.soundStart = static_cast<long>(FirstAbove(run.left, kSoundThreshold));
  if (static_cast<size_t>(run.soundStart) >= run.left.size()) {
    run.failure = "nothing was heard:" + Described(*server);
  }
  server->Signal(SIGTERM);
  server->Wait(kExitMs);
  return run;
}

// Seconds from the first to the last recorded sample above the threshold.
double SecondsHeard(const PeerStreamRun& run) {
  size_t last = run.left.size();
  while (last > 0 && std::fabs(run.left[last - 1]) <= kSoundThreshold) {
    --last;
  }
  return static_cast<double>(last - static_cast<size_t>(run.soundStart)) / kRecordRate;
}

double HzAfter(const PeerStreamRun& run, double from, double seconds) {
  const Span span = SecondsAfter(run.soundStart, from, seconds);
  const auto begin = run.left.begin() + static_cast<std::ptrdiff_t>(span.from);
  return FrequencyHz(std::vector<double>(begin, begin + static_cast<std::ptrdiff_t>(span.count)),
                     kRecordRate);
}

class PeerStream : public ::testing::Test {
 protected:
  void SetUp() override { TW_REQUIRE_PULSE(); }
};

// Mono 16-bit at 44100 and 48000 Hz: a quarter-second ring is smaller than a
// 24576-byte block, and the stream still plays without a gap.
TEST_F(PeerStream, MonoStreamsPlayAtRealTimePaceWithoutAGap) {
  for (const std::uint32_t rate : {44100u, 48000u}) {
    const PeerStreamRun run = PlayPeerStream(rate, 1, {{1000, rate * 2 * 4}}, 0);
    ASSERT_TRUE(run.failure.empty()) << rate << ": " << run.failure;
    const Span steady = SecondsAfter(run.soundStart, 0.3, 3.4);
    ASSERT_LE(steady.from + steady.count, run.left.size()) << rate;
    const Stretch quietest = QuietestStretch(run.left, steady, kGapWindow, RmsOf(run.left, steady));
    const Break largest = LargestBreak(run.left, steady, 1000);
    std::printf(
        "[ measured ] %u Hz mono: %.2f s heard of 4.00, quietest 20 ms %.2f dB, "
        "largest break %.4f\n",
        rate, SecondsHeard(run), quietest.levelDb, largest.size);
    EXPECT_GT(quietest.levelDb, kGapFloorDb) << rate << " Hz: a gap at sample " << quietest.at;
    EXPECT_NEAR(SecondsHeard(run), 4.0, 0.1) << rate;
  }
}

// The first two chunks arrive together (500 Hz, then 1000 Hz), the rest
// (1500 Hz) at real-time pace up to 2 s, then the Client closes: every
// part is heard in order and whole, the last one to its end.
TEST_F(PeerStream, FirstChunksPlayInOrderAndTheLastAfterTheClose) {
  constexpr std::uint32_t kChunk = 24576;  // 139 ms
  const PeerStreamRun run = PlayPeerStream(
      44100, 2, {{500, kChunk}, {1000, kChunk}, {1500, 352800 - 2 * kChunk}}, 2 * kChunk);
  ASSERT_TRUE(run.failure.empty()) << run.failure;
  const double first = HzAfter(run, 0.01, 0.1);
  const double second = HzAfter(run, 0.16, 0.1);
  const double rest = HzAfter(run, 0.4, 1.0);
  const double heard = SecondsHeard(run);
  std::printf("[ measured ] %.1f Hz, %.1f Hz, %.1f Hz; %.3f s heard of 2.000\n", first, second,
              rest, heard);
  EXPECT_NEAR(first, 500, 10);
  EXPECT_NEAR(second, 1000, 20);
  EXPECT_NEAR(rest, 1500, 30);
  EXPECT_NEAR(heard, 2.0, 0.05);
}

// The sound server is killed under running programs and started again on
// the same socket, with both programs on it and with each alone (the other
// on its built-in device; the Server alone with its device gone after it).
// Neither program shows a box or stops; sound keeps the device's pace through
// the outage (as silence), the streams are back within 2 s of the server
// accepting connections, and the tone plays again.
class ServerRestart : public ::testing::Test {
 protected:
  void SetUp() override {
    TW_REQUIRE_PULSE();
    if (PulseEnvironment::daemon() == nullptr) {
      GTEST_SKIP() << "the sound server cannot be restarted here";
    }
  }

  void RunThroughARestart(const std::string& clientDevice, const std::string& serverDevice);
};

constexpr char kSilentOutput[] = "Silent output";
constexpr char kOutageNote[] = "Tonewire: the sound server went away";
constexpr double kOutageSeconds = 1.0;
constexpr double kReconnectSeconds = 2.0;

int CountStreams(const std::string& kind) {
  std::string listed;
  if (!Pactl({"list", "short", kind}, &listed)) {
    return 0;
  }
  return static_cast<int>(std::count(listed.begin(), listed.end(), '\n'));
}

// Seconds until the server lists this many playback and capture streams.
double SecondsUntilStreams(int playback, int capture) {
  const Clock::time_point from = Clock::now();
  const Clock::time_point deadline = from + std::chrono::milliseconds(kWaitMs);
  while (CountStreams("sink-inputs") < playback || CountStreams("source-outputs") < capture) {
    if (Clock::now() > deadline) {
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Error lines other than the one note per outage: the boxes shown.
void ExpectNoBoxes(const ChildProcess& child, const char* role) {
  int notes = 0;
  for (const std::string& line : WithoutDiscoveryOff(child.ErrorLines())) {
    const bool note = line.rfind(kOutageNote, 0) == 0;
    notes += note ? 1 : 0;
    EXPECT_TRUE(note) << role << " showed: " << line;
  }
  EXPECT_LE(notes, 1) << role << ": one note per outage";
}

void ServerRestart::RunThroughARestart(const std::string& clientDevice,
                                       const std::string& serverDevice) {
  std::string failure;
  ASSERT_TRUE(PlayToneIntoMic(&failure)) << failure;
  const int port = FreeLoopbackPort();
  std::unique_ptr<ChildProcess> server = StartServer(port, 0, &failure, serverDevice);
  ASSERT_TRUE(failure.empty()) << failure;
  std::unique_ptr<ChildProcess> client = StartClient(port, clientDevice);
  ASSERT_TRUE(server->WaitForLine(kGotConfig, kWaitMs)) << Described(*server) << Described(*client);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  PulseEnvironment::daemon()->Kill();
  const Clock::time_point killed = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(kOutageSeconds));
  const double pace = SecondsOfBytes(ReceivedSince(*server, killed)) / kOutageSeconds;
  ASSERT_TRUE(PulseEnvironment::daemon()->Start(&failure)) << failure;
  const bool serverOnSoundServer = serverDevice != kSilentOutput;
  const double back =
      SecondsUntilStreams(serverOnSoundServer ? 1 : 0, clientDevice == kToneCapture ? 1 : 0);
  std::printf(
      "[ measured ] %.2f s of sound per second while the server was away; streams back "
      "%.3f s after it accepted connections\n",
      pace, back);
  EXPECT_GT(pace, 0.75);
  EXPECT_GE(back, 0.0);
  EXPECT_LE(back, kReconnectSeconds);

  ASSERT_TRUE(PlayToneInto(kToneSink, static_cast<int>(kToneHz)));  // the new server has none
  if (serverOnSoundServer) {  // on "Speakers", the default, when its own device is gone
    ChildProcess recorder(RecorderOptions(kRecorded, kRecorderLatencyMs));
    EXPECT_GE(WaitForSound(recorder, 0), 0) << "no sound after the restart";
  }
  EXPECT_FALSE(client->Ended()) << Described(*client);
  EXPECT_FALSE(server->Ended()) << Described(*server);
  client->Signal(SIGTERM);
  server->Signal(SIGTERM);
  EXPECT_EQ(client->Wait(kExitMs), 0);
  EXPECT_EQ(server->Wait(kExitMs), 0);
  ExpectNoBoxes(*client, "the Client");
  ExpectNoBoxes(*server, "the Server");
}

TEST_F(ServerRestart, BothProgramsCarrySoundAgain) { RunThroughARestart(kToneCapture, kPlayback); }

TEST_F(ServerRestart, ClientCarriesSoundAgain) { RunThroughARestart(kToneCapture, kSilentOutput); }

// The Server alone on the sound server, and the restarted server has no
// "Spare": the Server's stream goes to the default.
TEST_F(ServerRestart, ServerAloneWhoseDeviceIsGoneUsesTheDefault) {
  ASSERT_GE(LoadModule({"module-null-sink", "sink_name=Spare",
                        "sink_properties=device.description=Spare"}),
            0);
  RunThroughARestart("Test tone", "Spare");
}

// Servers started before the sound server: one on the default device, one
// on a named device. Each says once what it waits for; the first serves a
// Client (its built-in test tone) with silence meanwhile, the second waits
// for its device before it listens. Once the sound server is up, both play.
TEST_F(ServerRestart, ServersStartedBeforeTheSoundServerPlayOnceItIsUp) {
  PulseEnvironment::daemon()->Kill();
  const int port = FreeLoopbackPort();
  auto onDefault = StartCli({"server", "-v", "--port", std::to_string(port)});
  ASSERT_TRUE(onDefault->WaitForLine(kWaiting, kWaitMs)) << Described(*onDefault);
  auto client = StartClient(port, "Test tone");
  ASSERT_TRUE(onDefault->WaitForLine("Playback", kWaitMs)) << Described(*onDefault);
  const int namedPort = FreeLoopbackPort();
  auto onNamed =
      StartCli({"server", "-v", "--port", std::to_string(namedPort), "--device", kPlayback});
  ASSERT_TRUE(onNamed->WaitForErrorLinePrefix("tonewire-cli: no playback device matches", kWaitMs))
      << Described(*onNamed);
  EXPECT_EQ(onNamed->CountLines(kWaiting), 0) << "listening without its device";
  std::this_thread::sleep_for(std::chrono::seconds(1));

  std::string failure;
  ASSERT_TRUE(PulseEnvironment::daemon()->Start(&failure)) << failure;
  const Clock::time_point up = Clock::now();
  ASSERT_TRUE(PlayToneInto(kToneSink, static_cast<int>(kToneHz)));  // for the tests after this
  {
    ChildProcess recorder(RecorderOptions(kRecorded, kRecorderLatencyMs));
    EXPECT_GE(WaitForSound(recorder, 0), 0) << "no sound once the sound server was up";
    std::printf("[ measured ] sound %.3f s after the sound server accepted connections\n",
                std::chrono::duration<double>(Clock::now() - up).count());
  }
  client->Signal(SIGTERM);
  onDefault->Signal(SIGTERM);
  EXPECT_EQ(client->Wait(kExitMs), 0);
  EXPECT_EQ(onDefault->Wait(kExitMs), 0);
  ASSERT_TRUE(onNamed->WaitForLine(kWaiting, kWaitMs)) << Described(*onNamed);
  auto second = StartClient(namedPort, "Test tone");
  ASSERT_TRUE(onNamed->WaitForLine("Playback", kWaitMs)) << Described(*onNamed);
  {
    ChildProcess recorder(RecorderOptions(kRecorded, kRecorderLatencyMs));
    EXPECT_GE(WaitForSound(recorder, 0), 0) << "no sound on the named device";
  }
  second->Signal(SIGTERM);
  onNamed->Signal(SIGTERM);
  EXPECT_EQ(second->Wait(kExitMs), 0);
  EXPECT_EQ(onNamed->Wait(kExitMs), 0);
  // A stop while a device is awaited ends the program as a stop ends a run.
  auto onMissing = StartCli({"server", "--port", std::to_string(namedPort), "--device", "Spare"});
  ASSERT_TRUE(onMissing->WaitForErrorLinePrefix("tonewire-cli: no playback device", kWaitMs));
  onMissing->Signal(SIGTERM);
  EXPECT_EQ(onMissing->Wait(kExitMs), 0) << Described(*onMissing);
  EXPECT_EQ(WithoutDiscoveryOff(onDefault->ErrorLines()),
            std::vector<std::string>{
                "Tonewire: no sound server is running yet; playback waits for it with silence"});
  EXPECT_EQ(WithoutDiscoveryOff(onNamed->ErrorLines()),
            std::vector<std::string>{"tonewire-cli: no playback device matches \"Speakers\" yet; "
                                     "waiting for it to appear (\"tonewire-cli devices playback\" "
                                     "lists them)"});
}

// The user service's own command line, run by unit_sandbox inside the
// sandbox its unit file asks for (system calls, address families, no
// writable or executable memory, a read-only system and home, a private
// /tmp), with its settings from the environment: it plays a Client's tone.
TEST(ServiceUnit, ItsSandboxedCommandPlaysAClientsTone) {
  TW_REQUIRE_PULSE();
  std::string failure;
  ASSERT_TRUE(PlayToneIntoMic(&failure)) << failure;
  const int port = FreeLoopbackPort();
  const std::string cli = TW_CLI_PATH;
  ChildOptions options;
  options.argv = {TW_UNIT_SANDBOX_PATH, TW_SERVER_UNIT_PATH};
  options.environment = {"PATH=" + cli.substr(0, cli.rfind('/')) + ":/usr/bin:/bin",
                         "TONEWIRE_PORT=" + std::to_string(port), "TONEWIRE_DEVICE=Speakers"};
  ChildProcess server(options);
  ASSERT_TRUE(server.WaitForLine(kWaiting, kWaitMs)) << Described(server);
  std::ifstream status("/proc/" + std::to_string(server.pid()) + "/status");
  std::string limits((std::istreambuf_iterator<char>(status)), std::istreambuf_iterator<char>());
  EXPECT_NE(limits.find("NoNewPrivs:\t1"), std::string::npos) << limits;
  EXPECT_NE(limits.find("Seccomp_filters:\t2"), std::string::npos) << limits;

  auto client = StartClient(port, kToneCapture);
  ASSERT_TRUE(server.WaitForLine(kGotConfig, kWaitMs)) << Described(server) << Described(*client);
  ChildProcess recorder(RecorderOptions(kRecorded, kRecorderLatencyMs));
  EXPECT_GE(WaitForSound(recorder, 0), 0) << "no sound from the sandboxed Server";
  client->Signal(SIGTERM);
  server.Signal(SIGTERM);
  EXPECT_EQ(client->Wait(kExitMs), 0);
  EXPECT_EQ(server.Wait(kExitMs), 0) << Described(server);
  EXPECT_EQ(WithoutDiscoveryOff(server.ErrorLines()), std::vector<std::string>{})
      << Described(server);
}

}  // namespace
}  // namespace twtest
