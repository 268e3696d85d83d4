// The Server run end to end: the built-in "Silent output" device, real
// loopback clients, the worker started as the program starts it.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/peer_networks.h"
#include "run/workers.h"
#include "tests/e2e/stall_watch.h"
#include "tests/runners/run_checks.h"
#include "tests/runners/run_harness.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/output_recorder.h"

namespace {

namespace peer = twtest::peer;
using twtest::MachineStall;
using twtest::OutputRecorder;
using twtest::PrintStalls;
using twtest::RunHarness;
using twtest::StallWatch;
using Bytes = std::vector<unsigned char>;

constexpr char kWaiting[] = "Wait for incoming...";
constexpr size_t kChunkBytes = 24576;

void PutWord(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<unsigned char>(value >> shift));
  }
}

// A header for 44100 Hz, 2 channels, 16 bits, built by hand in wire order.
Bytes HeaderBytes(const char (&magic)[9], std::uint32_t blockLength) {
  Bytes out(magic, magic + 8);
  for (std::uint32_t field : {44100u, 2u, 16u, 176400u, 4u, blockLength}) {
    PutWord(out, field);
  }
  return out;
}

Bytes ValidHeader() { return HeaderBytes("VORTELIN", 24576); }

// Stream bytes whose every 4-byte frame holds its own number, counted from
// 1 (so that no frame is silence) across the whole connection.
Bytes NumberedFrames(std::uint32_t firstFrame, size_t frames) {
  Bytes out;
  for (size_t i = 0; i < frames; ++i) {
    PutWord(out, firstFrame + static_cast<std::uint32_t>(i));
  }
  return out;
}

bool Send(int fd, const Bytes& bytes) { return peer::SendAll(fd, bytes.data(), bytes.size()); }

int PickFreePort() { return peer::ClosedPort(); }

// Starts a Server run on a free port and waits until it listens.
bool StartServer(RunHarness& harness) {
  appState.targetHost[0] = '\0';
  appState.targetPort.store(PickFreePort());
  return harness.StartWorker(PlaybackWorker) && harness.WaitForStatus(kWaiting, 3000);
}

// Waits until the runner is back at waiting for a connection after text.
bool WaitForWaitingAfter(RunHarness& harness, const std::string& text) {
  if (!harness.WaitForStatus(text, 5000)) {
    return false;
  }
  return harness.WaitForStatus(kWaiting, 3000, harness.StatusCount(kWaiting) + 1);
}

bool PeerSeesEnd(int fd) {
  unsigned char byte = 0;
  return peer::Receive(fd, &byte, 1, 3000) == 0;
}

void StopAndExpectEnd(RunHarness& harness) {
  harness.RequestStop();
  EXPECT_TRUE(harness.WaitForWorkerEnd(2000));
  twtest::ExpectRunEndedOnce(harness);
}

// What was played, without the silence before the first and after the last
// sound (frames are numbered from 1, so no sent frame is silence).
std::vector<std::uint32_t> Heard(OutputRecorder& output) {
  // The played bytes as little-endian 32-bit words, one per 16-bit stereo frame.
  const std::vector<BYTE> bytes = output.played();
  std::vector<std::uint32_t> played;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    played.push_back(static_cast<std::uint32_t>(bytes[i]) |
                     static_cast<std::uint32_t>(bytes[i + 1]) << 8 |
                     static_cast<std::uint32_t>(bytes[i + 2]) << 16 |
                     static_cast<std::uint32_t>(bytes[i + 3]) << 24);
  }
  while (!played.empty() && played.back() == 0) {
    played.pop_back();
  }
  size_t first = 0;
  while (first < played.size() && played[first] == 0) {
    ++first;
  }
  return {played.begin() + static_cast<std::ptrdiff_t>(first), played.end()};
}

// Every frame sent, from the first (nothing overwritten at the start) to the
// last (the end is played out after the Client closes), each once, in order.
TEST(ReceiverPlayback, PlaysTheWholeStreamInOrderFromFirstToLastFrame) {
  OutputRecorder output;
  RunHarness harness;
  ASSERT_TRUE(StartServer(harness));
  EXPECT_FALSE(harness.ClientInfoEnabled());

  constexpr size_t kChunks = 10;
  constexpr size_t kFramesPerChunk = kChunkBytes / 4;
  const int client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Send(client, ValidHeader()));
  ASSERT_TRUE(Send(client, NumberedFrames(1, kChunks * kFramesPerChunk)));
  peer::Close(client);
  ASSERT_TRUE(WaitForWaitingAfter(harness, "Received 9 24576"));

  std::vector<std::string> expected = {"Running TCP server...", "Got config", "Playback"};
  for (size_t i = 0; i < kChunks; ++i) {
    expected.push_back("Received " + std::to_string(i) + " 24576");
  }
  EXPECT_EQ(expected, harness.StatusTextsBesidesWaiting());
  EXPECT_TRUE(harness.ClientInfoEnabled());  // stays enabled between connections

  const std::vector<std::uint32_t> heard = Heard(output);
  for (size_t i = 0; i < heard.size(); ++i) {
    ASSERT_EQ(i + 1, heard[i]) << "frame " << i << " of " << heard.size();
  }
  EXPECT_EQ(heard.size(), kChunks * kFramesPerChunk);

  // A stop while waiting for the next connection.
  StopAndExpectEnd(harness);
  EXPECT_EQ(0u, harness.BoxCount());
  const StreamHeader kept = appState.currentHeader.Get();
  EXPECT_EQ(44100u, kept.samplesPerSecond);
  EXPECT_EQ(24576u, kept.blockLength);
}

TEST(ReceiverHeaders, EveryKindOfJunkIsRefusedAndTheNextConnectionServed) {
  RunHarness harness;
  ASSERT_TRUE(StartServer(harness));
  const std::vector<Bytes> junk = {
      HeaderBytes("VORTELIM", 24576),  // magic wrong in its last byte
      HeaderBytes("VORTELIN", 0),
      HeaderBytes("VORTELIN", 4096001),
  };
  for (size_t i = 0; i < junk.size(); ++i) {
    SCOPED_TRACE(i);
    const int client = peer::Connect(appState.targetPort.load());
    ASSERT_GE(client, 0);
    ASSERT_TRUE(Send(client, junk[i]));
    EXPECT_TRUE(PeerSeesEnd(client));
    EXPECT_TRUE(harness.WaitForStatus("Got junk", 3000, i + 1));
    peer::Close(client);
  }
  EXPECT_EQ(0u, harness.StatusCount("Playback"));

  // The largest block length accepted; the receive block stays 24576 bytes.
  const int client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Send(client, HeaderBytes("VORTELIN", 4096000)));
  ASSERT_TRUE(Send(client, NumberedFrames(1, 30000 / 4)));
  EXPECT_TRUE(harness.WaitForStatus("Received 1 5424", 3000));
  EXPECT_EQ(
      (std::vector<std::string>{"Running TCP server...", "Got junk", "Got junk", "Got junk",
                                "Got config", "Playback", "Received 0 24576", "Received 1 5424"}),
      harness.StatusTextsBesidesWaiting());

  // A stop while the connection is open and silent closes it.
  StopAndExpectEnd(harness);
  EXPECT_TRUE(PeerSeesEnd(client));
  EXPECT_EQ(0u, harness.BoxCount());
  EXPECT_EQ(4096000u, appState.currentHeader.Get().blockLength);
  peer::Close(client);
}

// A valid Client sends a header and 1000 bytes, then closes; true once the
// Server has received them.
bool PlayShortValidStream(RunHarness& harness) {
  const int client = peer::Connect(appState.targetPort.load());
  if (client < 0) {
    return false;
  }
  const bool played = Send(client, ValidHeader()) && Send(client, NumberedFrames(1, 250)) &&
                      harness.WaitForStatus("Received 0 1000", 3000);
  peer::Close(client);
  return played;
}

TEST(ReceiverHeaders, AHeaderCutShortFallsBackOnWhatIsStored) {
  RunHarness harness;
  ASSERT_TRUE(StartServer(harness));

  // The run's first connection ends after 4 bytes: they land over the
  // invalid marker, which still fails, and the connection is closed silently.
  int client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(peer::SendAll(client, "VORT", 4));
  peer::Close(client);
  for (int i = 0; i < 300 && twtest::StoredMagic() != "VORTSSTR"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ("VORTSSTR", twtest::StoredMagic());

  ASSERT_TRUE(PlayShortValidStream(harness));

  // A later connection ends after its magic: the stored header, the earlier
  // connection's, passes again, so a buffer is made without "Got config".
  client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(peer::SendAll(client, "VORTELIN", 8));
  peer::Close(client);
  ASSERT_TRUE(harness.WaitForStatus("Playback", 3000, 2));
  ASSERT_TRUE(harness.WaitForStatus(kWaiting, 3000, harness.StatusCount(kWaiting) + 1));
  EXPECT_EQ((std::vector<std::string>{"Running TCP server...", "Got config", "Playback",
                                      "Received 0 1000", "Playback"}),
            harness.StatusTextsBesidesWaiting());

  StopAndExpectEnd(harness);
  EXPECT_EQ(0u, harness.BoxCount());
}

TEST(ReceiverConnections, OneClientAtATimeAndPlaybackStartsWithTheSecondChunk) {
  OutputRecorder output;
  RunHarness harness;
  ASSERT_TRUE(StartServer(harness));
  const int first = peer::Connect(appState.targetPort.load());
  ASSERT_GE(first, 0);
  ASSERT_TRUE(Send(first, ValidHeader()));
  ASSERT_TRUE(Send(first, NumberedFrames(1, 250)));
  ASSERT_TRUE(harness.WaitForStatus("Received 0 1000", 3000));

  const int second = peer::Connect(appState.targetPort.load());
  ASSERT_GE(second, 0);
  ASSERT_TRUE(Send(second, ValidHeader()));
  ASSERT_TRUE(Send(second, NumberedFrames(1, 500)));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(1u, harness.StatusCount("Got config"));  // the second waits its turn
  EXPECT_EQ(0u, output.played().size());             // one chunk does not start playback

  // The first Client's one chunk starts at its close and plays out.
  peer::Close(first);
  EXPECT_TRUE(harness.WaitForStatus("Received 0 2000", 3000));
  EXPECT_EQ(2u, harness.StatusCount("Got config"));
  const std::vector<std::uint32_t> firstClient = Heard(output);
  ASSERT_EQ(firstClient.size(), 250u);
  EXPECT_EQ(firstClient.back(), 250u);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Heard(output).size(), 250u) << "the second Client's one chunk waits";

  ASSERT_TRUE(Send(second, NumberedFrames(501, 750)));
  EXPECT_TRUE(harness.WaitForStatus("Received 1 3000", 3000));
  for (int i = 0; i < 300 && output.played().size() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GT(output.played().size(), 0u);

  peer::Close(second);
  StopAndExpectEnd(harness);
  EXPECT_EQ(0u, harness.BoxCount());
}

// Closes the Client's end of a connection that is playing and waits until
// the Server has played it out and waits for the next Client.
bool CloseAndWaitUntilPlayedOut(RunHarness& harness, int client) {
  if (!harness.WaitForStatus("Playback", 3000)) {
    return false;
  }
  const size_t waits = harness.StatusCount(kWaiting);
  peer::Close(client);
  return harness.WaitForStatus(kWaiting, 8000, waits + 1);
}

// Frames whose left sample counts up from 1 and whose right sample is its
// negation: a frame shifted by any byte count, or channels swapped, breaks
// right == -left, and every frame says where it came from.
Bytes MirroredFrames(size_t frames) {
  Bytes out;
  for (size_t n = 1; n <= frames; ++n) {
    const auto left = static_cast<std::uint16_t>(n);
    const auto right = static_cast<std::uint16_t>(-static_cast<std::int32_t>(n));
    PutWord(out, static_cast<std::uint32_t>(left) | static_cast<std::uint32_t>(right) << 16);
  }
  return out;
}

std::int16_t Left(std::uint32_t frame) { return static_cast<std::int16_t>(frame & 0xFFFF); }
std::int16_t Right(std::uint32_t frame) { return static_cast<std::int16_t>(frame >> 16); }

// The longest run of silent frames: its start and its length.
std::pair<size_t, size_t> LongestSilence(const std::vector<std::uint32_t>& frames) {
  std::pair<size_t, size_t> longest{0, 0};
  for (size_t i = 0; i < frames.size();) {
    size_t end = i;
    while (end < frames.size() && frames[end] == 0) {
      ++end;
    }
    if (end - i > longest.second) {
      longest = {i, end - i};
    }
    i = end > i ? end : i + 1;
  }
  return longest;
}

// After a pause: the sound before it fades out, the sound after it fades
// in, and no frame is lost but the faded ones.
void ExpectFadesAroundThePause(const std::vector<std::uint32_t>& heard, size_t pause,
                               size_t pauseFrames, size_t frames) {
  constexpr size_t kFade = 44100 / 200;  // 5 ms
  // Before the pause: 1, 2, 3, ... then a fade below the count.
  size_t before = 0;
  while (before < pause && Left(heard[before]) == static_cast<int>(before + 1)) {
    ++before;
  }
  EXPECT_GT(pause - before, 0u) << "the sound fades out";
  EXPECT_LE(pause - before, kFade) << "a fade, then silence";
  for (size_t i = before; i < pause; ++i) {
    EXPECT_LT(std::abs(Left(heard[i])), static_cast<int>(i + 1)) << "faded frame " << i;
  }
  // After it: a fade in, then the count on to the last frame.
  size_t after = 0;
  const size_t resumed = pause + pauseFrames;
  while (after < heard.size() - resumed &&
         Left(heard[heard.size() - 1 - after]) == static_cast<int>(frames - after)) {
    ++after;
  }
  EXPECT_GT(heard.size() - resumed - after, 0u) << "the sound fades in";
  EXPECT_LE(heard.size() - resumed - after, kFade);
  EXPECT_LE(frames - before - after, 2 * kFade) << "no frame lost but the faded ones";
}

// A stream paused for 3 s just after an odd byte count (TCP cuts anywhere)
// plays on with every frame whole and its channels in place; the pause is
// heard as silence (no quarter second of the ring played again and again),
// entered and left through a short fade, and no frame is lost beyond it.
TEST(ReceiverPlayback, APauseAfterAnOddByteCountIsSilentAndKeepsEveryFrameWhole) {
  OutputRecorder output;
  RunHarness harness;
  ASSERT_TRUE(StartServer(harness));
  constexpr size_t kFrames = 5 * kChunkBytes / 4;  // left samples stay below 32768
  constexpr size_t kCut = 3 * kChunkBytes + 3;
  const StallWatch watch;
  const Bytes stream = MirroredFrames(kFrames);
  const int client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Send(client, ValidHeader()));
  ASSERT_TRUE(peer::SendAll(client, stream.data(), kCut));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_TRUE(peer::SendAll(client, stream.data() + kCut, stream.size() - kCut));
  ASSERT_TRUE(CloseAndWaitUntilPlayedOut(harness, client));

  const std::vector<std::uint32_t> heard = Heard(output);
  size_t broken = 0;
  for (std::uint32_t frame : heard) {
    broken += Right(frame) != -Left(frame) ? 1 : 0;
  }
  EXPECT_EQ(0u, broken) << "frames not whole or channels swapped, of " << heard.size();

  const auto [pause, pauseFrames] = LongestSilence(heard);
  const std::vector<MachineStall> stalls = watch.Since(watch.started());
  PrintStalls(stalls);
  EXPECT_GT(pauseFrames, stalls.empty() ? 44100u * 5 / 2 : 44100u * 2)
      << "the pause is silence, not older sound";
  if (!stalls.empty()) {
    // The device and the writer stood still together, and the device then
    // caught up: what came late is skipped, so the fades and the count are
    // not this run's to check (a stop of 100 ms as the sound resumed lost the
    // fade-in once).
    std::printf("[ measured ] the fades and the count are not checked after a stall\n");
  } else {
    ExpectFadesAroundThePause(heard, pause, pauseFrames, kFrames);
  }
  StopAndExpectEnd(harness);
  EXPECT_EQ(0u, harness.BoxCount());
}

// Chunks that come on time, with the receive waits idle between them, are
// played as they are: no fade, no silence, nothing left out.
TEST(ReceiverPlayback, AStreamAtItsOwnPaceIsPlayedUntouched) {
  OutputRecorder output;
  RunHarness harness;
  ASSERT_TRUE(StartServer(harness));
  constexpr size_t kChunks = 20;
  constexpr size_t kFramesPerChunk = kChunkBytes / 4;
  const Bytes stream = NumberedFrames(1, kChunks * kFramesPerChunk);
  const int client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Send(client, ValidHeader()));
  const auto start = std::chrono::steady_clock::now();
  for (size_t chunk = 0; chunk < kChunks; ++chunk) {
    // Two at once fill the ring, then one a block's playing time apart.
    const size_t due = chunk < 2 ? 0 : chunk - 1;
    std::this_thread::sleep_until(start + std::chrono::microseconds(due * 139320));
    ASSERT_TRUE(peer::SendAll(client, stream.data() + chunk * kChunkBytes, kChunkBytes));
  }
  ASSERT_TRUE(CloseAndWaitUntilPlayedOut(harness, client));

  const std::vector<std::uint32_t> heard = Heard(output);
  ASSERT_EQ(heard.size(), kChunks * kFramesPerChunk);
  for (size_t i = 0; i < heard.size(); ++i) {
    ASSERT_EQ(i + 1, heard[i]) << "frame " << i;
  }
  StopAndExpectEnd(harness);
}

// A header with good magic and block length whose format fields are chosen
// by the caller, in wire order after the magic.
Bytes FormatHeader(std::uint32_t rate, std::uint32_t channels, std::uint32_t bits,
                   std::uint32_t bytesPerSecond, std::uint32_t blockAlign) {
  Bytes out(kHeaderMagic, kHeaderMagic + 8);
  for (std::uint32_t field : {rate, channels, bits, bytesPerSecond, blockAlign, 24576u}) {
    PutWord(out, field);
  }
  return out;
}

// Headers the device refuses come from the network: each gives its box and
// loses its connection, and the Server goes on to serve the next Client.
TEST(ReceiverHostileInput, RefusedFormatsDropTheConnectionAndTheRunGoesOn) {
  RunHarness harness;
  ASSERT_TRUE(StartServer(harness));
  const std::vector<Bytes> refused = {
      FormatHeader(44100, 0, 16, 176400, 4),  // no channels
      FormatHeader(44100, 2, 16, 176400, 3),  // block align disagrees with 2 x 16 bits
      FormatHeader(44100, 2, 16, 100000, 4),  // byte rate disagrees with rate x align
      FormatHeader(44100, 2, 12, 132300, 3),  // 12 bits are no PCM sample size
      FormatHeader(0xFFFFFFFF, 2, 16, 0xFFFFFFFC, 4),
  };
  for (size_t i = 0; i < refused.size(); ++i) {
    SCOPED_TRACE(i);
    const int client = peer::Connect(appState.targetPort.load());
    ASSERT_GE(client, 0);
    ASSERT_TRUE(Send(client, refused[i]));
    ASSERT_TRUE(harness.WaitForBoxCount(i + 1, 5000));
    EXPECT_TRUE(harness.Boxes()[i].caption.ends_with(" in CreateSoundBuffer"))
        << harness.Boxes()[i].caption;
    EXPECT_TRUE(PeerSeesEnd(client));
    peer::Close(client);
  }
  EXPECT_EQ(0, harness.FinishedCount());

  // A valid Client, then one whose 20-byte header lands over the stored one
  // and leaves a byte rate that disagrees with the stored block align.
  ASSERT_TRUE(PlayShortValidStream(harness));
  int client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  Bytes mixed = FormatHeader(48000, 2, 16, 192000, 4);
  mixed.resize(20);
  ASSERT_TRUE(Send(client, mixed));
  peer::Close(client);
  ASSERT_TRUE(harness.WaitForBoxCount(refused.size() + 1, 5000));

  // The run is still serving.
  client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Send(client, ValidHeader()));
  ASSERT_TRUE(Send(client, NumberedFrames(1, 500)));
  EXPECT_TRUE(harness.WaitForStatus("Received 0 2000", 3000));
  EXPECT_EQ(refused.size() + 2, harness.StatusCount("Got config"));  // each refused one too
  EXPECT_EQ(0, harness.FinishedCount());
  peer::Close(client);
  StopAndExpectEnd(harness);
  EXPECT_EQ(refused.size() + 1, harness.BoxCount());
}

constexpr double kTestStallSeconds = RunHarness::kTestStallMs / 1000.0;

// Seconds from a peer's last byte until the Server closes its connection.
double SecondsUntilClosed(int fd) {
  const auto start = std::chrono::steady_clock::now();
  unsigned char byte = 0;
  if (peer::Receive(fd, &byte, 1, 30000) != 0) {
    return -1;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A peer that stops sending in the middle of its header would otherwise hold
// the one-at-a-time Server for ever; here an earlier connection's header is
// stored, so the cut header must not fall back on it either.
// The program's own 10 s limit is held by tests/faults (HostGone); here the
// harness's short one.
TEST(ReceiverDeadPeers, APeerQuietInItsHeaderIsDroppedAfterTheStallLimit) {
  RunHarness harness;
  harness.SetStallLimit(RunHarness::kTestStallMs);
  ASSERT_TRUE(StartServer(harness));
  int client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Send(client, ValidHeader()));
  ASSERT_TRUE(harness.WaitForStatus("Playback", 3000));
  peer::Close(client);
  ASSERT_TRUE(harness.WaitForStatus(kWaiting, 3000, harness.StatusCount(kWaiting) + 1));

  client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  const Bytes header = ValidHeader();
  ASSERT_TRUE(peer::SendAll(client, header.data(), 20));
  const double seconds = SecondsUntilClosed(client);
  std::printf("[ measured ] a peer quiet after 20 header bytes was closed after %.2f s\n", seconds);
  EXPECT_GE(seconds, 0.9 * kTestStallSeconds);
  EXPECT_LT(seconds, 20.0);
  peer::Close(client);
  EXPECT_EQ(1u, harness.StatusCount("Playback"));  // nothing was played for it

  client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Send(client, ValidHeader()));
  EXPECT_TRUE(harness.WaitForStatus("Got config", 3000, 2));
  peer::Close(client);
  StopAndExpectEnd(harness);
  EXPECT_EQ(0u, harness.BoxCount());
}

TEST(ReceiverDeadPeers, AStreamThatGoesQuietIsDroppedAndTheNextClientServed) {
  RunHarness harness;
  harness.SetStallLimit(RunHarness::kTestStallMs);
  ASSERT_TRUE(StartServer(harness));
  const int quiet = peer::Connect(appState.targetPort.load());
  ASSERT_GE(quiet, 0);
  ASSERT_TRUE(Send(quiet, ValidHeader()));
  ASSERT_TRUE(Send(quiet, NumberedFrames(1, 2 * kChunkBytes / 4)));
  ASSERT_TRUE(harness.WaitForStatus("Received 1 24576", 3000));
  // The next Client waits in the listen queue meanwhile.
  const int next = peer::Connect(appState.targetPort.load());
  ASSERT_GE(next, 0);
  ASSERT_TRUE(Send(next, ValidHeader()));

  const double seconds = SecondsUntilClosed(quiet);
  std::printf("[ measured ] a stream quiet after two chunks was closed after %.2f s\n", seconds);
  EXPECT_GE(seconds, 0.9 * kTestStallSeconds);
  EXPECT_LT(seconds, 20.0);
  EXPECT_TRUE(harness.WaitForStatus("Got config", 3000, 2));
  EXPECT_EQ(0, harness.FinishedCount());
  peer::Close(quiet);
  peer::Close(next);
  StopAndExpectEnd(harness);
  EXPECT_EQ(0u, harness.BoxCount());
}

TEST(ReceiverStop, AStopDuringAnErrorBoxTakesEffectOnceTheBoxIsDismissed) {
  RunHarness harness;
  harness.HoldBoxes(true);
  ASSERT_TRUE(StartServer(harness));
  const int client = peer::Connect(appState.targetPort.load());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Send(client, ValidHeader()));
  ASSERT_TRUE(Send(client, NumberedFrames(1, 250)));
  ASSERT_TRUE(harness.WaitForStatus("Received 0 1000", 3000));
  peer::CloseWithReset(client);

  ASSERT_TRUE(harness.WaitForBoxCount(1, 3000));
  EXPECT_EQ("Error 0x2746 in ReceiveData", harness.Boxes()[0].caption);
  harness.RequestStop();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(harness.WorkerEnded());  // held in the box, the worker cannot see the stop
  harness.Dismiss(0);
  EXPECT_TRUE(harness.WaitForWorkerEnd(2000));
  twtest::ExpectRunEndedOnce(harness);
  EXPECT_EQ(1u, harness.BoxCount());
}

TEST(ReceiverSetUp, APortInUseGivesTheListenerBoxAndEndsTheRun) {
  int port = 0;
  const int holder = peer::Listen(&port);
  ASSERT_GE(holder, 0);
  RunHarness harness;
  appState.targetPort.store(port);
  ASSERT_TRUE(harness.StartWorker(PlaybackWorker));

  twtest::ExpectRunEndedOnce(harness);
  const auto boxes = harness.Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Cannot open server TCP socket", boxes[0].text);
  EXPECT_EQ("Net", boxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes[0].style);
  EXPECT_EQ(nullptr, boxes[0].owner);
  peer::Close(holder);
}

// The process-wide choice of addresses and networks for one test, the
// default again afterwards.
class PeersForTest {
 public:
  PeersForTest(const std::string& listen, const std::string& allow) {
    ServerPeers peers;
    std::string error;
    if (!listen.empty()) {
      EXPECT_TRUE(ParseListenAddresses(listen, &peers.listen, &error)) << error;
    }
    EXPECT_TRUE(AllowedNetworks::Parse(allow, &peers.allowed, &error)) << error;
    SetServerPeers(peers);
  }
  ~PeersForTest() { SetServerPeers(ServerPeers{}); }
};

// The stored header's block length: the receiver writes the header bytes
// over it as they arrive, so an unchanged value means none was read.
std::uint32_t StoredBlockLength() { return appState.currentHeader.Get().blockLength; }

// A peer outside the allowed networks is closed before its header is read:
// no status, no box, and the run goes on to serve an allowed peer.
TEST(ReceiverPeers, APeerOutsideTheAllowedNetworksIsClosedUnread) {
  PeersForTest peers("", "10.0.0.0/8,::1");  // loopback over IPv4 left out
  RunHarness harness;
  ASSERT_TRUE(StartServer(harness));
  const std::uint32_t stored = StoredBlockLength();
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int client = peer::Connect(appState.targetPort.load());
    ASSERT_GE(client, 0);
    Send(client, HeaderBytes("VORTELIN", 4096));  // may fail once the Server has closed
    Send(client, NumberedFrames(1, 1000));
    unsigned char byte = 0;
    EXPECT_LE(peer::Receive(client, &byte, 1, 3000), 0);  // an end or a reset
    peer::Close(client);
  }
  EXPECT_EQ(StoredBlockLength(), stored);
  EXPECT_EQ((std::vector<std::string>{"Running TCP server..."}),
            harness.StatusTextsBesidesWaiting());
  EXPECT_EQ(0u, harness.BoxCount());

  const int allowed = peer::ConnectIpv6(appState.targetPort.load());
  if (allowed >= 0) {  // a machine with IPv6 loopback
    ASSERT_TRUE(Send(allowed, ValidHeader()));
    ASSERT_TRUE(Send(allowed, NumberedFrames(1, 250)));
    EXPECT_TRUE(harness.WaitForStatus("Received 0 1000", 3000));
    peer::Close(allowed);
  }
  StopAndExpectEnd(harness);
}

// Listening on one address only: the others of the machine are not open.
TEST(ReceiverPeers, ListensOnTheNamedAddressesOnly) {
  PeersForTest peers("127.0.0.1", "any");
  RunHarness harness;
  ASSERT_TRUE(StartServer(harness));
  const int port = appState.targetPort.load();
  EXPECT_LT(peer::ConnectIpv6(port), 0);  // nothing on ::1 (or no IPv6 at all)
  EXPECT_TRUE(PlayShortValidStream(harness));
  StopAndExpectEnd(harness);
  EXPECT_TRUE(peer::PortIsFree(port));  // the listener is closed with the run
}

}  // namespace
