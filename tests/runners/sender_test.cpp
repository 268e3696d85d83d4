// The Client run end to end: the built-in "Test tone" capture device, a real
// loopback peer, the worker started as the program starts it.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <dsound.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture_context.h"
#include "core/app_state.h"
#include "run/workers.h"
#include "runners/sender.h"
#include "tests/runners/run_checks.h"
#include "tests/runners/run_harness.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/test_host.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace peer = twtest::peer;
using twtest::RunHarness;

// 44100 Hz, 2 channels, 16 bits, 176400 bytes per second, block align 4,
// block length 24576, after the magic.
constexpr unsigned char kCaptureHeader[kHeaderBytes] = {
    'V',  'O',  'R',  'T',  'E',  'L',  'I',  'N',  0x44, 0xAC, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
    0x10, 0x00, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x60, 0x00, 0x00,
};

void TargetLoopback(int port) {
  std::snprintf(appState.targetHost, sizeof appState.targetHost, "%s", "127.0.0.1");
  appState.targetPort.store(port);
}

// A valid header in the shared copy, so that the run's end has a magic to
// invalidate; the Client never writes the copy itself.
void PlantValidHeader() {
  HeaderImage image;
  std::memcpy(image.bytes, kCaptureHeader, kHeaderBytes);
  appState.currentHeader.Store(image);
}

bool ReceiveExactly(int fd, unsigned char* out, size_t length, int timeoutMs) {
  size_t received = 0;
  while (received < length) {
    const long count = peer::Receive(fd, out + received, length - received, timeoutMs);
    if (count <= 0) {
      return false;
    }
    received += static_cast<size_t>(count);
  }
  return true;
}

struct StreamFigures {
  double bytesPerSecond = 0;
  size_t payloadBytes = 0;
  int quietPoints = 0;     // pauses of 40 ms or more in the stream
  int partialAtQuiet = 0;  // pauses that fell inside a block
};

// Reads the stream after the header for about span. The rate is taken from
// the first read to the last, over the bytes that came after the first.
StreamFigures ReadStream(int fd, std::chrono::milliseconds span) {
  StreamFigures figures;
  std::vector<unsigned char> buffer(65536);
  const long first = peer::Receive(fd, buffer.data(), buffer.size(), 3000);
  if (first <= 0) {
    return figures;
  }
  const auto start = Clock::now();
  auto lastArrival = start;
  figures.payloadBytes = static_cast<size_t>(first);
  while (Clock::now() - start < span) {
    const long count = peer::Receive(fd, buffer.data(), buffer.size(), 40);
    if (count == 0) {
      break;
    }
    if (count < 0) {
      ++figures.quietPoints;
      figures.partialAtQuiet += figures.payloadBytes % kBlockBytes != 0 ? 1 : 0;
      continue;
    }
    lastArrival = Clock::now();
    figures.payloadBytes += static_cast<size_t>(count);
  }
  const std::chrono::duration<double> elapsed = lastArrival - start;
  if (elapsed.count() > 0) {
    figures.bytesPerSecond =
        static_cast<double>(figures.payloadBytes - static_cast<size_t>(first)) / elapsed.count();
  }
  return figures;
}

// Reads until the peer closes; the byte count, or -1 when it does not close.
long DrainToEnd(int fd) {
  std::vector<unsigned char> buffer(65536);
  long total = 0;
  for (;;) {
    const long count = peer::Receive(fd, buffer.data(), buffer.size(), 3000);
    if (count == 0) {
      return total;
    }
    if (count < 0) {
      return -1;
    }
    total += count;
  }
}

TEST(SenderStream, HeaderThenWholeBlocksAtTheCaptureRateUntilStop) {
  RunHarness harness;
  int port = 0;
  const int listener = peer::Listen(&port);
  ASSERT_GE(listener, 0);
  TargetLoopback(port);
  PlantValidHeader();
  ASSERT_TRUE(harness.StartWorker(CaptureWorker));
  const int connection = peer::Accept(listener, 5000);
  ASSERT_GE(connection, 0);

  unsigned char header[kHeaderBytes];
  ASSERT_TRUE(ReceiveExactly(connection, header, kHeaderBytes, 3000));
  EXPECT_EQ(0, std::memcmp(header, kCaptureHeader, kHeaderBytes));

  const StreamFigures figures = ReadStream(connection, std::chrono::milliseconds(2000));
  std::printf("[ measured ] %.0f bytes per second, %zu bytes in %zu-byte blocks, %d pauses\n",
              figures.bytesPerSecond, figures.payloadBytes, size_t{kBlockBytes},
              figures.quietPoints);
  EXPECT_GT(figures.bytesPerSecond, 100000.0);
  EXPECT_LT(figures.bytesPerSecond, 260000.0);
  EXPECT_GT(figures.quietPoints, 0);
  EXPECT_EQ(0, figures.partialAtQuiet);

  harness.RequestStop();
  const long rest = DrainToEnd(connection);
  ASSERT_GE(rest, 0);
  EXPECT_EQ(0u, (figures.payloadBytes + static_cast<size_t>(rest)) % kBlockBytes);
  twtest::ExpectRunEndedOnce(harness);
  EXPECT_EQ(0u, harness.BoxCount());
  EXPECT_EQ((std::vector<std::string>{"Running TCP client...", "Transmitting"}),
            harness.StatusTexts());
  peer::Close(connection);
  peer::Close(listener);
}

TEST(SenderEnds, TheServerClosingTheConnectionEndsTheRunWithASendDataBox) {
  RunHarness harness;
  int port = 0;
  const int listener = peer::Listen(&port);
  ASSERT_GE(listener, 0);
  TargetLoopback(port);
  ASSERT_TRUE(harness.StartWorker(CaptureWorker));
  const int connection = peer::Accept(listener, 5000);
  ASSERT_GE(connection, 0);
  std::vector<unsigned char> firstBlock(kHeaderBytes + kBlockBytes);
  ASSERT_TRUE(ReceiveExactly(connection, firstBlock.data(), firstBlock.size(), 3000));
  peer::Close(connection);

  twtest::ExpectRunEndedOnce(harness);
  const auto boxes = harness.Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(0u, boxes[0].caption.rfind("Error 0x", 0)) << boxes[0].caption;
  EXPECT_TRUE(boxes[0].caption.ends_with(" in SendData")) << boxes[0].caption;
  EXPECT_EQ(nullptr, boxes[0].owner);
  EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), boxes[0].style);
  peer::Close(listener);
}

// A Server whose host is gone takes no more bytes; the Client's send must not
// retry for ever but end the run with the send error box. The program's own
// 10 s limit is held by tests/faults (HostGone); here the harness's short one,
// after the socket buffers have filled at the Client's pace.
TEST(SenderEnds, AServerThatTakesNothingForTheStallLimitEndsTheRunWithASendDataBox) {
  RunHarness harness;
  harness.SetStallLimit(RunHarness::kTestStallMs);
  int port = 0;
  const int listener = peer::Listen(&port, 4096);
  ASSERT_GE(listener, 0);
  TargetLoopback(port);
  ASSERT_TRUE(harness.StartWorker(CaptureWorker));
  const int connection = peer::Accept(listener, 5000);
  ASSERT_GE(connection, 0);
  unsigned char header[kHeaderBytes];
  ASSERT_TRUE(ReceiveExactly(connection, header, sizeof header, 3000));
  const auto lastRead = Clock::now();

  ASSERT_TRUE(harness.WaitForBoxCount(1, 120000));
  const double seconds = std::chrono::duration<double>(Clock::now() - lastRead).count();
  std::printf("[ measured ] send error box %.2f s after the Server's last read\n", seconds);
  EXPECT_GE(seconds, RunHarness::kTestStallMs / 1000.0);
  const auto boxes = harness.Boxes();
  EXPECT_EQ("Error 0x274c in SendData", boxes[0].caption);
  twtest::ExpectRunEndedOnce(harness);
  EXPECT_EQ(1u, harness.BoxCount());
  peer::Close(connection);
  peer::Close(listener);
}

TEST(SenderEnds, NoServerListeningGivesTheConnectBoxAndNothingIsSent) {
  RunHarness harness;
  TargetLoopback(peer::ClosedPort());
  ASSERT_TRUE(harness.StartWorker(CaptureWorker));

  twtest::ExpectRunEndedOnce(harness);
  const auto boxes = harness.Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("Error 0x274d in Connect", boxes[0].caption);
  EXPECT_EQ((std::vector<std::string>{"Running TCP client..."}), harness.StatusTexts());
}

// A capture buffer whose device has failed: position queries fail with
// positionResult, or (with DS_OK) the position stands still while the
// status says whether it still captures.
class FailedCaptureBuffer final : public IDirectSoundCaptureBuffer {
 public:
  explicit FailedCaptureBuffer(HRESULT positionFailure, DWORD status = 0)
      : positionResult_(positionFailure), status_(status) {}
  std::atomic<int> positionQueries{0};

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCBCAPS) override { return DSERR_BUFFERLOST; }
  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD capture, LPDWORD read) override {
    ++positionQueries;
    *capture = 400;
    *read = 400;
    return positionResult_;
  }
  HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override {
    return DSERR_BUFFERLOST;
  }
  HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD status) override {
    *status = status_;
    return DS_OK;
  }
  HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUNDCAPTURE, LPCDSCBUFFERDESC) override {
    return DSERR_ALREADYINITIALIZED;
  }
  HRESULT STDMETHODCALLTYPE Lock(DWORD, DWORD, LPVOID*, LPDWORD, LPVOID*, LPDWORD, DWORD) override {
    return DSERR_BUFFERLOST;
  }
  HRESULT STDMETHODCALLTYPE Start(DWORD) override { return DSERR_BUFFERLOST; }
  HRESULT STDMETHODCALLTYPE Stop() override { return DS_OK; }
  HRESULT STDMETHODCALLTYPE Unlock(LPVOID, DWORD, LPVOID, DWORD) override {
    return DSERR_BUFFERLOST;
  }

 private:
  const HRESULT positionResult_;
  const DWORD status_;
};

TEST(SenderHeader, AnUnreadableCaptureFormatGivesAGetFormatBoxAndNoHeader) {
  twtest::TestHost host;
  FailedCaptureBuffer dead(DSERR_BUFFERLOST);
  StreamHeader header = {};
  EXPECT_FALSE(HeaderForCaptureBuffer(&dead, header));
  ASSERT_EQ(1u, host.BoxCount());
  EXPECT_EQ("Error 0x88780096 in GetFormat", host.Boxes()[0].caption);
  EXPECT_EQ(std::string(8, '\0'), std::string(header.magic, 8));  // nothing to send
}

struct LoopResult {
  bool returned = false;
  double seconds = 0;
  int queries = 0;
  std::vector<std::string> captions;
};

// Runs the block loop over buffer for at most limitMs, then stops it.
LoopResult RunBlockLoop(FailedCaptureBuffer& buffer, int limitMs) {
  twtest::TestHost host;
  CaptureContext context;
  context.captureBuffer = &buffer;
  context.bufferBytes = 44096;
  ByteBuffer block(kBlockBytes);
  HeaderImage image;
  std::memcpy(image.bytes, kCaptureHeader, kHeaderBytes);
  const StreamHeader header = DecodeHeader(image);
  appState.stopRequested.store(0);
  std::atomic<bool> returned{false};
  const auto start = Clock::now();
  std::thread loop([&] {
    SendCapturedBlocks(context, header, block);
    returned.store(true);
  });
  for (int waited = 0; waited < limitMs && !returned.load(); waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  LoopResult result;
  result.returned = returned.load();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.queries = buffer.positionQueries.load();
  appState.stopRequested.store(1);
  loop.join();
  appState.stopRequested.store(0);
  for (const auto& box : host.Boxes()) {
    result.captions.push_back(box.caption);
  }
  context.captureBuffer = nullptr;
  return result;
}

// A device that is gone is reported once and the loop ends, whichever way
// it shows: a lost buffer at once, a stream that stopped capturing after its
// position stood still for half a second, any other failure after about a
// second of retries at a bounded pace.
TEST(SenderBlockLoop, ACaptureDeviceGoneForGoodIsReportedOnceAndEndsTheLoop) {
  FailedCaptureBuffer lost(DSERR_BUFFERLOST);
  const LoopResult atOnce = RunBlockLoop(lost, 3000);
  EXPECT_TRUE(atOnce.returned);
  EXPECT_EQ(atOnce.queries, 1);
  EXPECT_EQ(atOnce.captions, (std::vector<std::string>{"Error 0x88780096 in Capture"}));

  FailedCaptureBuffer stopped(DS_OK, 0);
  const LoopResult still = RunBlockLoop(stopped, 5000);
  EXPECT_TRUE(still.returned);
  EXPECT_GE(still.seconds, 0.4) << "a stall of half a second is not a lost device yet";
  EXPECT_EQ(still.captions, (std::vector<std::string>{"Error 0x88780096 in Capture"}));

  FailedCaptureBuffer failing(DSERR_NODRIVER);
  const LoopResult retried = RunBlockLoop(failing, 10000);
  std::printf("[ measured ] %d position queries in %.2f s before the report\n", retried.queries,
              retried.seconds);
  EXPECT_TRUE(retried.returned);
  EXPECT_EQ(retried.queries, 100);
  EXPECT_GE(retried.seconds, 0.5) << "retried at about one try per 10 ms, not at once";
  EXPECT_EQ(retried.captions, (std::vector<std::string>{"Error 0x88780078 in Capture"}));
}

// A device that still captures, only slowly, is waited for until a Stop.
TEST(SenderBlockLoop, AStalledButCapturingDeviceIsWaitedForUntilStop) {
  FailedCaptureBuffer slow(DS_OK, DSCBSTATUS_CAPTURING);
  const LoopResult waited = RunBlockLoop(slow, 1500);
  EXPECT_FALSE(waited.returned);
  EXPECT_TRUE(waited.captions.empty());
}

}  // namespace
