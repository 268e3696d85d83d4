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
#include "run/app_state.h"
#include "run/workers.h"
#include "runners/sender.h"
#include "tests/runners/run_checks.h"
#include "tests/runners/run_harness.h"
#include "tests/support/loopback_peer.h"

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
// retry for ever but end the run with the send error box.
TEST(SenderEnds, AServerThatTakesNothingForTenSecondsEndsTheRunWithASendDataBox) {
  RunHarness harness;
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
  EXPECT_GE(seconds, 10.0);
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

// A capture buffer whose device is gone for good: every position query and
// every lock fails.
class DeadCaptureBuffer final : public IDirectSoundCaptureBuffer {
 public:
  std::atomic<int> positionQueries{0};

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetCaps(LPDSCBCAPS) override { return DSERR_BUFFERLOST; }
  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD, LPDWORD) override {
    ++positionQueries;
    return DSERR_BUFFERLOST;
  }
  HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override {
    return DSERR_BUFFERLOST;
  }
  HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD) override { return DSERR_BUFFERLOST; }
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
};

TEST(SenderHeader, AnUnreadableCaptureFormatGivesAGetFormatBoxAndNoHeader) {
  twtest::TestHost host;
  DeadCaptureBuffer dead;
  StreamHeader header = {};
  EXPECT_FALSE(HeaderForCaptureBuffer(&dead, header));
  ASSERT_EQ(1u, host.BoxCount());
  EXPECT_EQ("Error 0x88780096 in GetFormat", host.Boxes()[0].caption);
  EXPECT_EQ(std::string(8, '\0'), std::string(header.magic, 8));  // nothing to send
}

TEST(SenderBlockLoop, AFailingCaptureReadIsRetriedAtABoundedPaceUntilStop) {
  DeadCaptureBuffer dead;
  CaptureContext context;
  context.captureBuffer = &dead;
  context.bufferBytes = 44096;
  ByteBuffer block(kBlockBytes);
  HeaderImage image;
  std::memcpy(image.bytes, kCaptureHeader, kHeaderBytes);
  const StreamHeader header = DecodeHeader(image);
  appState.stopRequested.store(0);

  std::atomic<bool> returned{false};
  std::thread loop([&] {
    SendCapturedBlocks(context, header, block);
    returned.store(true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const int queries = dead.positionQueries.load();
  std::printf("[ measured ] %d capture position queries in 500 ms\n", queries);
  EXPECT_GE(queries, 3);    // the read is still retried
  EXPECT_LT(queries, 200);  // at about one try per 10 ms, not as fast as the core allows
  EXPECT_FALSE(returned.load());

  const auto stopAt = Clock::now();
  appState.stopRequested.store(1);
  loop.join();
  EXPECT_LT(Clock::now() - stopAt, std::chrono::milliseconds(1000));
  appState.stopRequested.store(0);
  context.captureBuffer = nullptr;
}

}  // namespace
