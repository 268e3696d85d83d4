// A peer's host that vanishes mid-stream (its network gone, no close, no
// reset): the loopback of this program's own network namespace is taken
// down under a running stream. Neither role may wait for ever. Both tests
// keep the program's own stall limit (kStalledPeerMs, 10 s); the runners'
// tests shorten it.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "run/workers.h"
#include "tests/faults/own_network.h"
#include "tests/runners/run_harness.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/pulse_environment.h"

namespace {

namespace peer = twtest::peer;
using Clock = std::chrono::steady_clock;
using twtest::RunHarness;

constexpr char kWaiting[] = "Wait for incoming...";

void RequireOwnNetwork() {
  if (!twtest::InOwnNetwork()) {
    // Under CI the namespace must be there; elsewhere (no privilege) skip.
    if (twtest::RunningUnderCi()) {
      FAIL() << "cannot enter a network namespace of our own";
    }
    GTEST_SKIP() << "no network namespace of our own (needs CAP_SYS_ADMIN)";
  }
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Brings loopback back whatever a test left, for the next test in this process.
struct LoopbackRestorer {
  ~LoopbackRestorer() { twtest::SetLoopbackUp(true); }
};

TEST(HostGone, TheClientReportsAServerWhoseHostVanishedAndEndsItsRun) {
  RequireOwnNetwork();
  LoopbackRestorer restore;
  RunHarness harness;
  int port = 0;
  const int listener = peer::Listen(&port);
  ASSERT_GE(listener, 0);
  std::snprintf(appState.targetHost, sizeof appState.targetHost, "%s", "127.0.0.1");
  appState.targetPort.store(port);
  ASSERT_TRUE(harness.StartWorker(CaptureWorker));
  const int connection = peer::Accept(listener, 5000);
  ASSERT_GE(connection, 0);
  std::vector<unsigned char> first(kHeaderBytes + kBlockBytes);
  size_t received = 0;
  while (received < first.size()) {
    const long count =
        peer::Receive(connection, first.data() + received, first.size() - received, 3000);
    ASSERT_GT(count, 0);
    received += static_cast<size_t>(count);
  }

  ASSERT_TRUE(twtest::SetLoopbackUp(false));
  const auto gone = Clock::now();
  ASSERT_TRUE(harness.WaitForBoxCount(1, 60000));
  const double seconds = SecondsSince(gone);
  std::printf(
      "[ measured ] the Client showed its send box %.2f s after the Server's host "
      "vanished\n",
      seconds);
  EXPECT_EQ("Error 0x274c in SendData", harness.Boxes()[0].caption);
  EXPECT_GE(seconds, 10.0);
  EXPECT_LT(seconds, 30.0);
  EXPECT_TRUE(harness.WaitForWorkerEnd(5000));
  // The end of the run reaches the window as a posted message, which may
  // arrive a moment after the worker thread is gone.
  EXPECT_TRUE(harness.WaitForFinishedCount(1, 5000));
  EXPECT_EQ(1, harness.FinishedCount());
  peer::Close(connection);
  peer::Close(listener);
}

// Sends a valid header, then sound at about the Client's pace, until told
// to stop; sends that cannot go out are given up after a while.
class StreamingPeer {
 public:
  explicit StreamingPeer(int port) : fd_(peer::Connect(port)) {
    if (fd_ >= 0) {
      thread_ = std::thread([this] { Stream(); });
    }
  }
  ~StreamingPeer() {
    stop_.store(true);
    if (thread_.joinable()) {
      thread_.join();
    }
    peer::CloseWithReset(fd_);
  }
  bool connected() const { return fd_ >= 0; }

 private:
  void Stream() {
    const unsigned char header[kHeaderBytes] = {
        'V', 'O', 'R', 'T', 'E',  'L',  'I', 'N', 0x44, 0xAC, 0, 0, 2, 0,    0, 0,
        16,  0,   0,   0,   0x10, 0xB1, 2,   0,   4,    0,    0, 0, 0, 0x60, 0, 0};
    std::vector<unsigned char> block(kBlockBytes, 0x33);
    peer::SendAll(fd_, header, sizeof header);
    while (!stop_.load()) {
      // A socket whose host is gone fills up; the non-blocking send then
      // fails and the block is dropped, as nothing reads it anyway.
      peer::SendWithoutWaiting(fd_, block.data(), block.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(139));
    }
  }

  int fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(HostGone, TheServerDropsAClientWhoseHostVanishedAndServesTheNext) {
  RequireOwnNetwork();
  LoopbackRestorer restore;
  RunHarness harness;
  appState.targetHost[0] = '\0';
  appState.targetPort.store(peer::ClosedPort());
  ASSERT_TRUE(harness.StartWorker(PlaybackWorker));
  ASSERT_TRUE(harness.WaitForStatus(kWaiting, 3000));
  {
    StreamingPeer vanishing(appState.targetPort.load());
    ASSERT_TRUE(vanishing.connected());
    ASSERT_TRUE(harness.WaitForStatus("Received 3 24576", 5000));
    const size_t waits = harness.StatusCount(kWaiting);
    ASSERT_TRUE(twtest::SetLoopbackUp(false));
    const auto gone = Clock::now();
    ASSERT_TRUE(harness.WaitForStatus(kWaiting, 60000, waits + 1));
    const double seconds = SecondsSince(gone);
    std::printf("[ measured ] the Server was free %.2f s after the Client's host vanished\n",
                seconds);
    EXPECT_GE(seconds, 9.0);
    EXPECT_LT(seconds, 30.0);
  }
  ASSERT_TRUE(twtest::SetLoopbackUp(true));
  StreamingPeer next(appState.targetPort.load());
  ASSERT_TRUE(next.connected());
  EXPECT_TRUE(harness.WaitForStatus("Got config", 5000, 2));
  EXPECT_EQ(0, harness.FinishedCount());
  EXPECT_EQ(0u, harness.BoxCount());
}

}  // namespace
