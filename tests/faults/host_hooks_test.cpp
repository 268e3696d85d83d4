// The hooks a Linux host sets on the Winsock layer, in this program's own
// network namespace, where a name lookup cannot leave the machine.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/winsock/host_hooks.h"
#include "tests/faults/own_network.h"
#include "tests/support/loopback_peer.h"

namespace twtest {
namespace {

// What a Linux host learns through its hooks: each listener with its bound
// port, a listener's close (not a connection's), and the names the system
// resolver did not know, for a lookup of a host name alone.
class RecordingHooks : public twsock::HostHooks {
 public:
  void Listening(int fd, int port) override { listened.push_back({fd, port}); }
  void ListenerClosing(int fd) override { closed.push_back(fd); }
  bool ResolveName(const char* name, std::uint32_t* address) override {
    asked.push_back(name);
    if (std::string(name) != "Kitchen speaker") {
      return false;
    }
    *address = inet_addr("10.77.0.1");
    return true;
  }

  std::vector<std::pair<int, int>> listened;
  std::vector<int> closed;
  std::vector<std::string> asked;
};

class WinsockHostHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InOwnNetwork());
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(0x0202, &data));
    twsock::SetHostHooks(&hooks_);
  }
  void TearDown() override {
    twsock::SetHostHooks(nullptr);
    WSACleanup();
  }

  // A listener on 127.0.0.1 and the port the system chose.
  static SOCKET Listener(int* port) {
    SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(sock, 5) != 0) {
      closesocket(sock);
      return INVALID_SOCKET;
    }
    *port = peer::LocalPort(static_cast<int>(sock));
    return sock;
  }

  RecordingHooks hooks_;
};

TEST_F(WinsockHostHooks, ListenersAreReportedWithTheirPortAndTheirClose) {
  int port = 0;
  SOCKET listener = Listener(&port);
  ASSERT_NE(listener, INVALID_SOCKET);
  ASSERT_EQ(hooks_.listened.size(), 1u);
  EXPECT_EQ(hooks_.listened[0], std::make_pair(static_cast<int>(listener), port));
  const int peerFd = peer::Connect(port);
  ASSERT_GE(peerFd, 0);
  SOCKET connection = accept(listener, nullptr, nullptr);
  ASSERT_NE(connection, INVALID_SOCKET);
  EXPECT_EQ(closesocket(connection), 0);
  peer::Close(peerFd);
  EXPECT_TRUE(hooks_.closed.empty()) << "a connection is no listener";
  EXPECT_EQ(closesocket(listener), 0);
  EXPECT_EQ(hooks_.closed, std::vector<int>{static_cast<int>(listener)});
  EXPECT_EQ(hooks_.listened.size(), 1u);
}

TEST_F(WinsockHostHooks, TheHostAnswersOnlyForNamesTheResolverDoesNotKnow) {
  ADDRINFOA hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  PADDRINFOA found = nullptr;
  ASSERT_EQ(getaddrinfo("Kitchen speaker", nullptr, &hints, &found), 0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->ai_family, AF_INET);
  EXPECT_EQ(found->ai_next, nullptr);
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  EXPECT_EQ(address->sin_family, AF_INET);
  EXPECT_EQ(address->sin_addr.s_addr, inet_addr("10.77.0.1"));
  freeaddrinfo(found);

  // A name neither knows stays the resolver's failure (no resolver is
  // reachable from this namespace: the lookup never leaves it).
  found = nullptr;
  const int unknown = getaddrinfo("no-such-speaker.invalid", nullptr, &hints, &found);
  EXPECT_TRUE(unknown == WSAHOST_NOT_FOUND || unknown == WSATRY_AGAIN) << unknown;
  EXPECT_EQ(found, nullptr);
  // Addresses, numeric-only lookups and IPv6-only lookups never ask the host.
  hooks_.asked.clear();
  ASSERT_EQ(getaddrinfo("127.0.0.1", nullptr, &hints, &found), 0);
  freeaddrinfo(found);
  hints.ai_flags = AI_NUMERICHOST;
  EXPECT_NE(getaddrinfo("Kitchen speaker", nullptr, &hints, &found), 0);
  hints.ai_flags = 0;
  hints.ai_family = AF_INET6;
  EXPECT_NE(getaddrinfo("Kitchen speaker", nullptr, &hints, &found), 0);
  EXPECT_TRUE(hooks_.asked.empty());
}

}  // namespace
}  // namespace twtest
