// The socket primitives over the real Winsock, on 127.0.0.1. The peer end is
// plain blocking Winsock, never the code under test. Failures that the code
// reports open a real message box, which the test reads and closes.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "audio/capture_context.h"
#include "audio/playback_context.h"
#include "core/app_state.h"
#include "net/sockets.h"
#include "tests/windows/unit/message_boxes.h"

namespace {

std::vector<char> Pattern(size_t size) {
  std::vector<char> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 31 + 7) & 0xff);
  }
  return bytes;
}

// A blocking listener on 127.0.0.1 and a free port.
SOCKET PeerListener(int* port) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(listener);
    return INVALID_SOCKET;
  }
  *port = ntohs(address.sin_port);
  return listener;
}

class Winsock : public ::testing::Test {
 protected:
  void SetUp() override {
    appState.stopRequested.store(0);
    ASSERT_TRUE(StartWinsockOnce());
  }
  void TearDown() override { appState.stopRequested.store(0); }

  // The context's socket connected with OpenConnection; the peer's end.
  SOCKET ConnectClient(CaptureContext& context) {
    int port = 0;
    SOCKET listener = PeerListener(&port);
    EXPECT_NE(listener, INVALID_SOCKET);
    EXPECT_TRUE(OpenConnection(context.connectionSocket, "127.0.0.1", port));
    SOCKET peer = accept(listener, nullptr, nullptr);
    closesocket(listener);
    return peer;
  }
};

TEST_F(Winsock, ConnectedSocketIsNonBlockingWithoutNagle) {
  CaptureContext context;
  SOCKET peer = ConnectClient(context);
  ASSERT_NE(peer, INVALID_SOCKET);
  BOOL noDelay = FALSE;
  int size = sizeof noDelay;
  ASSERT_EQ(getsockopt(context.connectionSocket, IPPROTO_TCP, TCP_NODELAY,
                       reinterpret_cast<char*>(&noDelay), &size),
            0);
  EXPECT_TRUE(noDelay);
  // Non-blocking: a receive with nothing there fails at once with WSAEWOULDBLOCK.
  char byte = 0;
  EXPECT_EQ(recv(context.connectionSocket, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  closesocket(peer);
}

TEST_F(Winsock, BytesTravelBothWaysInOrder) {
  CaptureContext context;
  SOCKET peer = ConnectClient(context);
  ASSERT_NE(peer, INVALID_SOCKET);
  // Larger than the socket buffers, so SendAll meets a full socket.
  const std::vector<char> sent = Pattern(3 * 1024 * 1024 + 17);
  std::vector<char> received(sent.size());
  std::thread reader([&] {
    size_t at = 0;
    while (at < received.size()) {
      int got = recv(peer, received.data() + at, static_cast<int>(received.size() - at), 0);
      if (got <= 0) {
        break;
      }
      at += static_cast<size_t>(got);
    }
  });
  EXPECT_TRUE(SendAll(context.connectionSocket, sent.data(), static_cast<int>(sent.size())));
  reader.join();
  EXPECT_EQ(received, sent);

  const std::vector<char> back = Pattern(100000);
  ASSERT_EQ(send(peer, back.data(), static_cast<int>(back.size()), 0),
            static_cast<int>(back.size()));
  std::vector<char> got(back.size());
  EXPECT_TRUE(ReceiveExact(context.connectionSocket, got.data(), static_cast<int>(got.size())));
  EXPECT_EQ(got, back);
  closesocket(peer);
}

TEST_F(Winsock, OrderlyCloseEndsReceivingWithCountZero) {
  CaptureContext context;
  SOCKET peer = ConnectClient(context);
  ASSERT_NE(peer, INVALID_SOCKET);
  ASSERT_EQ(send(peer, "abc", 3, 0), 3);
  char buffer[16];
  int count = 0;
  // The bytes, then 50 ms without more.
  ASSERT_TRUE(ReceiveSome(context.connectionSocket, buffer, sizeof buffer, count));
  EXPECT_EQ(count, 3);
  shutdown(peer, SD_SEND);
  count = 99;
  EXPECT_FALSE(ReceiveSome(context.connectionSocket, buffer, sizeof buffer, count));
  EXPECT_EQ(count, 0);
  closesocket(peer);
}

TEST_F(Winsock, SilentPeerGivesZeroBytesAndAStopEndsTheExactReceive) {
  CaptureContext context;
  SOCKET peer = ConnectClient(context);
  ASSERT_NE(peer, INVALID_SOCKET);
  char buffer[64];
  int count = -5;
  EXPECT_TRUE(ReceiveSome(context.connectionSocket, buffer, sizeof buffer, count));
  EXPECT_EQ(count, 0);
  std::thread stopper([] {
    Sleep(200);
    appState.stopRequested.store(1);
  });
  EXPECT_FALSE(ReceiveExact(context.connectionSocket, buffer, sizeof buffer));
  stopper.join();
  closesocket(peer);
}

TEST_F(Winsock, ListenerAcceptsOnLoopbackAndCloseGracefullyForgetsIt) {
  PlaybackContext context;
  int port = 0;
  SOCKET probe = PeerListener(&port);  // a port free a moment ago
  closesocket(probe);
  ASSERT_TRUE(OpenListener(context.listeners.sockets[0], port));
  SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  closesocket(client);
  CloseGracefully(context.listeners.sockets[0]);
  EXPECT_EQ(context.listeners.sockets[0], INVALID_SOCKET);
  CloseGracefully(context.listeners.sockets[0]);  // nothing left: nothing happens
}

// The box names the step and the Winsock code; the text is the system's own
// and differs between implementations, so only the code is compared.
TEST_F(Winsock, RefusedConnectIsReportedWithItsCode) {
  int port = 0;
  SOCKET probe = PeerListener(&port);
  closesocket(probe);  // nothing listens there now
  CaptureContext context;
  bool connected = true;
  std::thread worker(
      [&] { connected = OpenConnection(context.connectionSocket, "127.0.0.1", port); });
  const twtest::BoxText box = twtest::WaitForBoxAndClose("Error 0x274d in Connect", 10000);
  worker.join();
  EXPECT_TRUE(box.found) << "no box for WSAECONNREFUSED (10061)";
  EXPECT_FALSE(connected);
  EXPECT_NE(context.connectionSocket, INVALID_SOCKET);  // kept for the context to release
  std::printf("[ text ] WSAECONNREFUSED: %s\n", box.text.c_str());
}

}  // namespace
