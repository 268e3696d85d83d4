// A thousand connections to one Server run: streams cut at random points,
// junk headers, refused formats, resets and half-open peers. Afterwards the run
// serves a real Client (tonewire-cli), and the process holds the descriptors
// and threads it held before, with no more than a little more memory.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "run/workers.h"
#include "tests/cli/cli_process.h"
#include "tests/runners/run_harness.h"
#include "tests/soak/process_figures.h"
#include "tests/support/loopback_peer.h"

namespace {

namespace peer = twtest::peer;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

constexpr char kWaiting[] = "Wait for incoming...";
constexpr int kConnections = 1000;
constexpr int kSilentPeers = 2;  // each holds the Server for the stall limit

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeaningful = false;  // ASan keeps freed memory in quarantine
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryIsMeaningful = false;
#else
constexpr bool kMemoryIsMeaningful = true;
#endif
#else
constexpr bool kMemoryIsMeaningful = true;
#endif

void PutWord(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<unsigned char>(value >> shift));
  }
}

Bytes ValidHeader() {
  Bytes out = {'V', 'O', 'R', 'T', 'E', 'L', 'I', 'N'};
  for (std::uint32_t field : {44100u, 2u, 16u, 176400u, 4u, 24576u}) {
    PutWord(out, field);
  }
  return out;
}

class Connections {
 public:
  Connections(int port, unsigned seed) : port_(port), random_(seed) {}

  // One connection of a kind chosen at random; false when the Server did not
  // close it in time.
  bool MakeOne() {
    switch (Pick(4)) {
      case 0:
        return CutStream();
      case 1:
        return JunkHeader();
      case 2:
        return Reset();
      default:
        return RefusedFormat();
    }
  }

  // Half-open: a valid header and some sound, then nothing more and no close,
  // as from a host that vanished.
  bool Silent() {
    Bytes bytes = ValidHeader();
    bytes.resize(bytes.size() + 2000, 0x11);
    return Serve(bytes, End::kQuiet, 20000);
  }

 private:
  enum class End { kClose, kReset, kQuiet };

  size_t Pick(size_t below) { return std::uniform_int_distribution<size_t>(0, below - 1)(random_); }

  Bytes RandomBytes(size_t length) {
    Bytes out(length);
    for (unsigned char& byte : out) {
      byte = static_cast<unsigned char>(Pick(256));
    }
    return out;
  }

  // A valid header and stream, cut anywhere in the header or the first
  // 8 kB, which the ring takes without waiting for the device.
  Bytes CutValidStream(size_t streamBytes) {
    Bytes bytes = ValidHeader();
    Bytes stream = RandomBytes(streamBytes);
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    bytes.resize(Pick(bytes.size() + 1));
    return bytes;
  }

  bool CutStream() { return Serve(CutValidStream(8192), End::kClose, 5000); }

  bool JunkHeader() {
    Bytes bytes = RandomBytes(32 + Pick(512));
    if (Pick(2) == 0) {
      bytes[0] = 'V';  // a good start, a bad rest
      bytes[1] = 'O';
    }
    return Serve(bytes, End::kClose, 5000);
  }

  bool Reset() { return Serve(CutValidStream(4096), End::kReset, 5000); }

  bool RefusedFormat() {
    Bytes bytes = ValidHeader();
    bytes[12] = 0;  // no channels
    bytes.resize(bytes.size() + Pick(2048), 0x22);
    return Serve(bytes, End::kClose, 5000);
  }

  // Sends, ends the connection the chosen way and, except after a reset,
  // waits until the Server has closed its side, so connections never pile
  // up in the listen queue.
  bool Serve(const Bytes& bytes, End end, int timeoutMs) {
    const int fd = peer::Connect(port_);
    if (fd < 0) {
      return false;
    }
    peer::SendAll(fd, bytes.data(), bytes.size());  // a junk header may be cut off early
    if (end == End::kReset) {
      peer::CloseWithReset(fd);
      return true;
    }
    if (end == End::kClose) {
      peer::ShutdownSend(fd);
    }
    const auto start = Clock::now();
    unsigned char scratch[256];
    while (peer::Receive(fd, scratch, sizeof scratch, timeoutMs) > 0) {
    }
    peer::Close(fd);
    return Clock::now() - start < std::chrono::milliseconds(timeoutMs);
  }

  int port_;
  std::mt19937 random_;
};

// Waits until the figures come back to the baseline's descriptors and
// threads (device threads end shortly after their buffer is released).
twtest::ProcessFigures SettledFigures(const twtest::ProcessFigures& baseline) {
  twtest::ProcessFigures now = twtest::ReadProcessFigures();
  for (int i = 0; i < 100; ++i) {
    if (now.descriptors == baseline.descriptors && now.threads == baseline.threads) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    now = twtest::ReadProcessFigures();
  }
  return now;
}

bool ServeRealClient(twtest::RunHarness& harness, int port, size_t configsBefore) {
  twtest::CliProcess client(
      {"client", "127.0.0.1", "--port", std::to_string(port), "--seconds", "2"});
  if (!client.started()) {
    return false;
  }
  const bool got = harness.WaitForStatus("Got config", 10000, configsBefore + 1) &&
                   harness.WaitForStatus("Received 5 24576", 10000);
  const int status = client.Wait(20000);
  const size_t waits = harness.StatusCount(kWaiting);
  return got && status == 0 && harness.WaitForStatus(kWaiting, 5000, waits + 1);
}

TEST(Soak, AThousandBrokenConnectionsLeaveTheServerAsItWas) {
  twtest::RunHarness harness;
  const int port = peer::ClosedPort();
  appState.targetHost[0] = '\0';
  appState.targetPort.store(port);
  ASSERT_TRUE(harness.StartWorker(PlaybackWorker));
  ASSERT_TRUE(harness.WaitForStatus(kWaiting, 3000));

  const unsigned seed = static_cast<unsigned>(Clock::now().time_since_epoch().count());
  std::printf("[ measured ] seed %u\n", seed);
  Connections connections(port, seed);
  // Warm-up: one of every kind and a real Client, so that what is made once
  // for the life of the process is in the baseline.
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(connections.MakeOne());
  }
  ASSERT_TRUE(ServeRealClient(harness, port, harness.StatusCount("Got config")));
  harness.ClearBoxes();
  harness.ForgetStatusTexts();
  const twtest::ProcessFigures before = twtest::ReadProcessFigures();

  const auto start = Clock::now();
  int failed = 0;
  size_t played = 0;
  size_t junk = 0;
  size_t boxes = 0;
  for (int i = 0; i < kConnections; ++i) {
    failed += connections.MakeOne() ? 0 : 1;
    boxes += harness.BoxCount();
    harness.ClearBoxes();  // refused formats and resets each give one
    if (i % 100 == 99) {
      played += harness.StatusCount("Playback");
      junk += harness.StatusCount("Got junk");
      harness.ForgetStatusTexts();
    }
  }
  // The limit itself is the runners' and faults' tests' subject; here the
  // short one, and the program's again for the real Client after them.
  harness.SetStallLimit(twtest::RunHarness::kTestStallMs);
  for (int i = 0; i < kSilentPeers; ++i) {
    failed += connections.Silent() ? 0 : 1;
  }
  harness.SetStallLimit(kStalledPeerMs);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("[ measured ] %zu played, %zu junk headers, %zu error boxes\n", played, junk, boxes);
  EXPECT_GT(played, 0u);
  EXPECT_GT(junk, 0u);
  EXPECT_GT(boxes, 0u);
  EXPECT_EQ(0, failed) << "connections the Server did not close in time";
  EXPECT_EQ(0, harness.FinishedCount()) << "a connection ended the Server's run";

  EXPECT_TRUE(ServeRealClient(harness, port, harness.StatusCount("Got config")));
  harness.ClearBoxes();
  harness.ForgetStatusTexts();
  const twtest::ProcessFigures after = SettledFigures(before);
  std::printf("[ measured ] %d connections + %d silent peers in %.1f s\n", kConnections,
              kSilentPeers, seconds);
  std::printf(
      "[ measured ] descriptors %d -> %d, threads %d -> %d, resident %ld kB -> %ld kB "
      "(%+ld kB)\n",
      before.descriptors, after.descriptors, before.threads, after.threads, before.residentKb,
      after.residentKb, after.residentKb - before.residentKb);
  EXPECT_EQ(before.descriptors, after.descriptors);
  EXPECT_EQ(before.threads, after.threads);
  if (kMemoryIsMeaningful) {
    EXPECT_LT(after.residentKb - before.residentKb, 4096);  // target: under 1 MB
  }
  harness.RequestStop();
  EXPECT_TRUE(harness.WaitForWorkerEnd(3000));
}

}  // namespace
