// The Winsock layer over POSIX sockets: start-up, the errno table and its
// texts, the per-thread last error, the calls' Windows behaviour. Peers are
// plain POSIX (tests/support/loopback_peer.h).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/win32/system_texts.h"
#include "platform/winsock/winsock_errors.h"
#include "tests/support/loopback_peer.h"

namespace peer = twtest::peer;

namespace {

int Fd(SOCKET sock) { return static_cast<int>(sock); }

// Keeps the library started for each test, as the program does.
class Winsock : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(0x0202, &data));
  }
  void TearDown() override { WSACleanup(); }

  // A listener of the layer on 127.0.0.1 and a free port.
  static SOCKET Listener(int* port, bool reuseAddress = false) {
    SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    if (reuseAddress) {
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = htons(0);
    if (bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(sock, 5) != 0) {
      closesocket(sock);
      return INVALID_SOCKET;
    }
    *port = peer::LocalPort(Fd(sock));
    return sock;
  }

  // A connected layer socket (blocking) and the peer's end.
  static SOCKET Connected(int* peerFd) {
    int port = 0;
    int listener = peer::Listen(&port);
    SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    EXPECT_EQ(0, connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    *peerFd = peer::Accept(listener, 5000);
    peer::Close(listener);
    return sock;
  }
};

// ---- Types and constants at Windows' values ----

TEST(WinsockTypes, WindowsWidthsAndValues) {
  static_assert(sizeof(SOCKET) == sizeof(void*), "SOCKET is UINT_PTR");
  static_assert(static_cast<SOCKET>(-1) == INVALID_SOCKET, "INVALID_SOCKET is ~0");
  static_assert(sizeof(u_long) == 4, "u_long is 32-bit");
  static_assert(sizeof(in_addr) == 4, "in_addr is 4 bytes");
  static_assert(sizeof(sockaddr) == 16 && sizeof(sockaddr_in) == 16, "16-byte addresses");
  static_assert(FIONBIO == static_cast<LONG>(0x8004667EU), "FIONBIO");
  static_assert(SOL_SOCKET == 0xFFFF && SO_REUSEADDR == 4, "socket options");
  static_assert(IPPROTO_TCP == 6 && TCP_NODELAY == 1, "TCP options");
  static_assert(SD_BOTH == 2 && SOCKET_ERROR == -1 && AF_INET == 2 && SOCK_STREAM == 1, "misc");
  EXPECT_EQ(10035, WSAEWOULDBLOCK);
  in_addr address{};
  address.S_un.S_un_b.s_b1 = 127;
  address.S_un.S_un_b.s_b4 = 1;
  EXPECT_EQ(htonl(0x7f000001), address.s_addr);
}

TEST(WinsockTypes, ByteOrder) {
  EXPECT_EQ(0x3412, htons(0x1234));
  EXPECT_EQ(0x1234, ntohs(htons(0x1234)));
  EXPECT_EQ(0x78563412u, htonl(0x12345678));
  EXPECT_EQ(0x12345678u, ntohl(htonl(0x12345678)));
  EXPECT_EQ(htons(4464), htons(static_cast<u_short>(70000)));
}

TEST(WinsockTypes, FdSetIsACountAndAnArray) {
  fd_set set;
  FD_ZERO(&set);
  EXPECT_EQ(0u, set.fd_count);
  FD_SET(7, &set);
  FD_SET(9, &set);
  FD_SET(7, &set);  // already in: not added twice
  EXPECT_EQ(2u, set.fd_count);
  EXPECT_EQ(7u, set.fd_array[0]);
  EXPECT_EQ(9u, set.fd_array[1]);
  EXPECT_TRUE(FD_ISSET(9, &set));
  EXPECT_FALSE(FD_ISSET(8, &set));
  for (SOCKET s = 100; s < 200; ++s) {
    FD_SET(s, &set);
  }
  EXPECT_EQ(static_cast<u_int>(FD_SETSIZE), set.fd_count);  // full sets take no more
}

TEST(WinsockTypes, InetAddrTakesDottedIpv4Only) {
  EXPECT_EQ(htonl(0x7f000001), inet_addr("127.0.0.1"));
  EXPECT_EQ(htonl(0xC0A80105), inet_addr("192.168.1.5"));
  EXPECT_EQ(htonl(0x7f000001), inet_addr("0x7f.1"));  // BSD's short forms, as Windows
  EXPECT_EQ(INADDR_NONE, inet_addr("255.255.255.255"));
  EXPECT_EQ(INADDR_NONE, inet_addr("localhost"));  // no name lookup
  EXPECT_EQ(INADDR_NONE, inet_addr("1.2.3.256"));
  EXPECT_EQ(INADDR_NONE, inet_addr(""));
  EXPECT_EQ(INADDR_NONE, inet_addr(nullptr));
}

// ---- Start-up ----

TEST(WinsockStartup, StartAndCleanupAreCounted) {
  WSADATA data;
  std::memset(&data, 0x55, sizeof data);
  ASSERT_EQ(0, WSAStartup(0x0202, &data));
  EXPECT_EQ(0x0202, data.wVersion);
  EXPECT_EQ(0x0202, data.wHighVersion);
  EXPECT_STREQ("Running", data.szSystemStatus);
  ASSERT_EQ(0, WSAStartup(0x0303, &data));  // above 2.2: 2.2 is offered
  EXPECT_EQ(0x0202, data.wVersion);
  ASSERT_EQ(0, WSAStartup(0x0101, &data));
  EXPECT_EQ(0x0101, data.wVersion);
  EXPECT_EQ(WSAVERNOTSUPPORTED, WSAStartup(0x0000, &data));
  EXPECT_EQ(WSAEFAULT, WSAStartup(0x0202, nullptr));
  EXPECT_EQ(0, WSACleanup());
  EXPECT_EQ(0, WSACleanup());
  EXPECT_EQ(0, WSACleanup());
}

TEST(WinsockStartup, NoSocketWithoutAStartedLibrary) {
  int stopped = 0;
  while (WSACleanup() == 0) {
    ++stopped;  // other tests in this process may have left it started
  }
  EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
  EXPECT_EQ(INVALID_SOCKET, socket(AF_INET, SOCK_STREAM, 0));
  EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
  WSADATA data;
  for (int i = 0; i < stopped; ++i) {
    ASSERT_EQ(0, WSAStartup(0x0202, &data));
  }
}

// ---- Errors ----

TEST(WinsockErrors, ErrnoTableGivesWindowsCodes) {
  struct Case {
    int error;
    int expected;
  };
  const Case cases[] = {
      {EAGAIN, 10035},        {EWOULDBLOCK, 10035},  {EINPROGRESS, 10035},  {ECONNREFUSED, 10061},
      {ECONNRESET, 10054},    {ETIMEDOUT, 10060},    {ENETUNREACH, 10051},  {EHOSTUNREACH, 10065},
      {EADDRINUSE, 10048},    {EACCES, 10013},       {ENOTCONN, 10057},     {EPIPE, 10054},
      {EBADF, 10038},         {ENOTSOCK, 10038},     {EINVAL, 10022},       {EMFILE, 10024},
      {EADDRNOTAVAIL, 10049}, {ECONNABORTED, 10053}, {EAFNOSUPPORT, 10047}, {EINTR, 10004},
      {ENOBUFS, 10055},       {EISCONN, 10056},      {EALREADY, 10037},     {ENOPROTOOPT, 10042},
      {EOPNOTSUPP, 10045},    {ENETDOWN, 10050},     {EHOSTDOWN, 10064},    {ESHUTDOWN, 10058},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, twsock::WsaErrorFromErrno(c.error)) << "errno " << c.error;
  }
  EXPECT_EQ(WSASYSCALLFAILURE, twsock::WsaErrorFromErrno(ENOENT));  // not a socket error
}

TEST(WinsockErrors, EveryCodeTheLayerGivesHasASystemText) {
  for (int error = 1; error < 200; ++error) {
    const DWORD code = static_cast<DWORD>(twsock::WsaErrorFromErrno(error));
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
        nullptr);
    ASSERT_GT(length, 2u) << "errno " << error << " -> " << code;
    std::string got(text, length);
    EXPECT_EQ("\r\n", got.substr(got.size() - 2)) << code;
    LocalFree(text);
  }
  for (DWORD code : {WSANOTINITIALISED, WSAVERNOTSUPPORTED, WSASYSCALLFAILURE}) {
    EXPECT_NE(nullptr, twplat::WinsockErrorText(code)) << code;
  }
  EXPECT_EQ(nullptr, twplat::WinsockErrorText(0x88780078));
}

TEST(WinsockErrors, LastErrorIsKeptPerThread) {
  WSASetLastError(10061);
  int other = -1;
  std::thread thread([&] {
    WSASetLastError(10054);
    other = WSAGetLastError();
  });
  thread.join();
  EXPECT_EQ(10054, other);
  EXPECT_EQ(10061, WSAGetLastError());
}

// ---- Calls ----

TEST_F(Winsock, OnlyIpv4AndIpv6StreamSockets) {
  EXPECT_EQ(INVALID_SOCKET, socket(17, SOCK_STREAM, 0));  // neither AF_INET nor AF_INET6
  EXPECT_EQ(WSAEAFNOSUPPORT, WSAGetLastError());
  EXPECT_EQ(INVALID_SOCKET, socket(AF_INET, 2, 0));  // SOCK_DGRAM
  EXPECT_EQ(WSAESOCKTNOSUPPORT, WSAGetLastError());
  for (int family : {AF_INET, AF_INET6}) {
    SOCKET sock = socket(family, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(INVALID_SOCKET, sock) << family;
    EXPECT_EQ(0, closesocket(sock));
  }
}

// ---- Name resolution ----

// The first address of a lookup as text, with its family and size checked.
std::string FirstAddress(const char* host, int flags = 0) {
  ADDRINFOA hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  PADDRINFOA found = nullptr;
  const int result = getaddrinfo(host, nullptr, &hints, &found);
  if (result != 0) {
    EXPECT_EQ(nullptr, found);
    EXPECT_EQ(result, WSAGetLastError());
    return "error " + std::to_string(result);
  }
  std::string text;
  if (found->ai_family == AF_INET6) {
    EXPECT_EQ(sizeof(sockaddr_in6), found->ai_addrlen);
    EXPECT_EQ(AF_INET6, found->ai_addr->sa_family);  // Windows' 23, not Linux's 10
    const sockaddr_in6* address = reinterpret_cast<const sockaddr_in6*>(found->ai_addr);
    text = "v6 last byte " + std::to_string(address->sin6_addr.s6_addr[15]);
  } else {
    EXPECT_EQ(AF_INET, found->ai_family);
    EXPECT_EQ(sizeof(sockaddr_in), found->ai_addrlen);
    const sockaddr_in* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    text = "v4 " + std::to_string(ntohl(address->sin_addr.s_addr));
  }
  EXPECT_EQ(SOCK_STREAM, found->ai_socktype);
  freeaddrinfo(found);
  return text;
}

TEST_F(Winsock, GetaddrinfoGivesWindowsLayoutsAndCodes) {
  EXPECT_EQ("v4 " + std::to_string(INADDR_LOOPBACK), FirstAddress("127.0.0.1"));
  EXPECT_EQ("v4 " + std::to_string(INADDR_LOOPBACK), FirstAddress("127.1"));  // inet_addr's forms
  EXPECT_EQ("v6 last byte 1", FirstAddress("::1"));
  // localhost comes from the hosts file: no query leaves the machine.
  const std::string local = FirstAddress("localhost");
  EXPECT_TRUE(local == "v4 " + std::to_string(INADDR_LOOPBACK) || local == "v6 last byte 1")
      << local;
  // A name where only numbers are allowed: "not found" without a lookup.
  EXPECT_EQ("error 11001", FirstAddress("speaker.example", AI_NUMERICHOST));
  EXPECT_EQ("error 11001", FirstAddress("300.1.1.1", AI_NUMERICHOST));

  PADDRINFOA found = nullptr;
  EXPECT_EQ(WSAHOST_NOT_FOUND, getaddrinfo(nullptr, nullptr, nullptr, &found));
  ADDRINFOA datagram{};
  datagram.ai_socktype = 2;  // SOCK_DGRAM: TCP only
  EXPECT_EQ(WSAESOCKTNOSUPPORT, getaddrinfo("127.0.0.1", nullptr, &datagram, &found));
  EXPECT_EQ(nullptr, found);
  freeaddrinfo(nullptr);
}

TEST(WinsockNames, GetaddrinfoNeedsAStartedLibrary) {
  while (WSACleanup() == 0) {
  }
  PADDRINFOA found = nullptr;
  EXPECT_EQ(WSANOTINITIALISED, getaddrinfo("127.0.0.1", nullptr, nullptr, &found));
  EXPECT_EQ(nullptr, found);
  WSADATA data;
  ASSERT_EQ(0, WSAStartup(0x0202, &data));  // leave it started, as other tests expect
}

TEST(WinsockErrors, LinuxWordsTheCauseOfSocketAndLookupCodes) {
  EXPECT_STREQ("Connection refused", twsock::LinuxErrorText(WSAECONNREFUSED));
  EXPECT_STREQ("Connection reset by peer", twsock::LinuxErrorText(WSAECONNRESET));
  EXPECT_STREQ("Network is unreachable", twsock::LinuxErrorText(WSAENETUNREACH));
  EXPECT_STREQ("Name or service not known", twsock::LinuxErrorText(WSAHOST_NOT_FOUND));
  EXPECT_STREQ("Temporary failure in name resolution", twsock::LinuxErrorText(WSATRY_AGAIN));
  EXPECT_EQ(nullptr, twsock::LinuxErrorText(WSANOTINITIALISED));  // Winsock's own condition
  EXPECT_EQ(nullptr, twsock::LinuxErrorText(0x88780078));         // a sound error
  for (DWORD code : {WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY, WSANO_DATA}) {
    EXPECT_NE(nullptr, twplat::WinsockErrorText(code)) << code;
  }
}

// An IPv6 listener with IPV6_V6ONLY off takes IPv4 and IPv6 peers alike.
TEST_F(Winsock, DualStackListenerAcceptsBothFamilies) {
  SOCKET listener = socket(AF_INET6, SOCK_STREAM, 0);
  ASSERT_NE(INVALID_SOCKET, listener);
  int off = 0;
  ASSERT_EQ(0, setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off),
                          sizeof off));
  sockaddr_in6 any{};
  any.sin6_family = AF_INET6;
  ASSERT_EQ(0, bind(listener, reinterpret_cast<const sockaddr*>(&any), sizeof any));
  ASSERT_EQ(0, listen(listener, 5));
  sockaddr_in small{};
  int smallBytes = sizeof small;
  EXPECT_EQ(SOCKET_ERROR, getsockname(listener, reinterpret_cast<sockaddr*>(&small), &smallBytes));
  EXPECT_EQ(WSAEFAULT, WSAGetLastError());  // an IPv6 address needs 28 bytes
  const int port = peer::LocalPort(Fd(listener));
  const int v4 = peer::Connect(port);
  const int v6 = peer::ConnectIpv6(port);
  ASSERT_GE(v4, 0);
  ASSERT_GE(v6, 0);
  for (int i = 0; i < 2; ++i) {
    sockaddr_storage from{};
    int fromBytes = sizeof from;
    SOCKET accepted = accept(listener, reinterpret_cast<sockaddr*>(&from), &fromBytes);
    ASSERT_NE(INVALID_SOCKET, accepted);
    EXPECT_EQ(AF_INET6, from.ss_family);  // IPv4 peers arrive as IPv4-mapped addresses
    EXPECT_EQ(static_cast<int>(sizeof(sockaddr_in6)), fromBytes);
    closesocket(accepted);
  }
  peer::Close(v4);
  peer::Close(v6);
  closesocket(listener);
}

TEST_F(Winsock, IoctlsocketSwitchesNonBlockingMode) {
  SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(INVALID_SOCKET, sock);
  u_long on = 1;
  EXPECT_EQ(0, ioctlsocket(sock, FIONBIO, &on));
  EXPECT_TRUE(peer::IsNonBlocking(Fd(sock)));
  u_long off = 0;
  EXPECT_EQ(0, ioctlsocket(sock, FIONBIO, &off));
  EXPECT_FALSE(peer::IsNonBlocking(Fd(sock)));
  EXPECT_EQ(SOCKET_ERROR, ioctlsocket(sock, 0x4004667F, &on));  // FIONREAD: not in the layer
  EXPECT_EQ(WSAEINVAL, WSAGetLastError());
  EXPECT_EQ(SOCKET_ERROR, ioctlsocket(sock, FIONBIO, nullptr));
  EXPECT_EQ(WSAEFAULT, WSAGetLastError());
  closesocket(sock);
}

TEST_F(Winsock, SetsockoptMapsTheProgramsOptions) {
  SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  const char* value = reinterpret_cast<const char*>(&one);
  EXPECT_EQ(0, setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, value, sizeof one));
  EXPECT_TRUE(peer::HasNoDelay(Fd(sock)));
  EXPECT_EQ(0, setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, value, sizeof one));
  EXPECT_TRUE(peer::HasReuseAddress(Fd(sock)));
  EXPECT_EQ(SOCKET_ERROR, setsockopt(sock, SOL_SOCKET, 0x0080, value, sizeof one));  // SO_LINGER
  EXPECT_EQ(WSAENOPROTOOPT, WSAGetLastError());
  EXPECT_EQ(SOCKET_ERROR, setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, value, 2));
  EXPECT_EQ(WSAEFAULT, WSAGetLastError());
  closesocket(sock);
}

TEST_F(Winsock, ReuseAddressRebindsPastTimeWaitButNeverStealsAListener) {
  // Linux lets a socket bind past another only when both set SO_REUSEADDR;
  // the program's listener does (OpenListener), and its accepted connections
  // and their TIME_WAIT remains inherit it.
  int one = 1;
  int port = 0;
  SOCKET listener = Listener(&port, true);
  ASSERT_NE(INVALID_SOCKET, listener);
  int peerFd = peer::Connect(port);
  ASSERT_GE(peerFd, 0);
  SOCKET accepted = accept(listener, nullptr, nullptr);
  ASSERT_NE(INVALID_SOCKET, accepted);

  // While the listener lives, the port is refused even with SO_REUSEADDR.
  SOCKET second = socket(AF_INET, SOCK_STREAM, 0);
  setsockopt(second, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  EXPECT_EQ(SOCKET_ERROR,
            bind(second, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  EXPECT_EQ(WSAEADDRINUSE, WSAGetLastError());
  closesocket(second);

  // Our side closes first, so its end of the connection lingers in TIME_WAIT.
  closesocket(accepted);
  char byte = 0;
  EXPECT_EQ(0, peer::Receive(peerFd, &byte, 1, 2000));
  peer::Close(peerFd);
  closesocket(listener);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  SOCKET plain = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_EQ(SOCKET_ERROR, bind(plain, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  EXPECT_EQ(WSAEADDRINUSE, WSAGetLastError());
  closesocket(plain);

  SOCKET reusing = socket(AF_INET, SOCK_STREAM, 0);
  setsockopt(reusing, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  EXPECT_EQ(0, bind(reusing, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  EXPECT_EQ(0, listen(reusing, 5));
  closesocket(reusing);
}

TEST_F(Winsock, ConnectErrors) {
  SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(peer::ClosedPort()));
  EXPECT_EQ(SOCKET_ERROR,
            connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  EXPECT_EQ(WSAECONNREFUSED, WSAGetLastError());
  closesocket(sock);

  sock = socket(AF_INET, SOCK_STREAM, 0);
  address.sin_addr.s_addr = INADDR_ANY;  // Windows refuses 0.0.0.0 as a target
  EXPECT_EQ(SOCKET_ERROR,
            connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  EXPECT_EQ(WSAEADDRNOTAVAIL, WSAGetLastError());
  EXPECT_EQ(SOCKET_ERROR, connect(sock, reinterpret_cast<const sockaddr*>(&address), 8));
  EXPECT_EQ(WSAEFAULT, WSAGetLastError());
  closesocket(sock);

  sock = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 any{};  // nor :: on IPv6
  any.sin6_family = AF_INET6;
  any.sin6_port = htons(5567);
  EXPECT_EQ(SOCKET_ERROR, connect(sock, reinterpret_cast<const sockaddr*>(&any), sizeof any));
  EXPECT_EQ(WSAEADDRNOTAVAIL, WSAGetLastError());
  EXPECT_EQ(SOCKET_ERROR, connect(sock, reinterpret_cast<const sockaddr*>(&any), 16));
  EXPECT_EQ(WSAEFAULT, WSAGetLastError());  // an IPv6 address is 28 bytes
  closesocket(sock);
}

TEST_F(Winsock, NonBlockingConnectWouldBlockAndBecomesWritable) {
  int port = 0;
  int listener = peer::Listen(&port);
  SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
  u_long on = 1;
  ioctlsocket(sock, FIONBIO, &on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  int result = connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (result == SOCKET_ERROR) {
    EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());  // EINPROGRESS, as Windows says it
  }
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(sock, &writable);
  timeval wait = {2, 0};
  EXPECT_EQ(1, select(0, nullptr, &writable, nullptr, &wait));
  EXPECT_TRUE(FD_ISSET(sock, &writable));
  closesocket(sock);
  peer::Close(listener);
}

TEST_F(Winsock, AcceptKeepsTheListenersMode) {
  int port = 0;
  SOCKET listener = Listener(&port);
  ASSERT_NE(INVALID_SOCKET, listener);
  int first = peer::Connect(port);
  SOCKET blocking = accept(listener, nullptr, nullptr);
  ASSERT_NE(INVALID_SOCKET, blocking);
  EXPECT_FALSE(peer::IsNonBlocking(Fd(blocking)));

  u_long on = 1;
  ioctlsocket(listener, FIONBIO, &on);
  SOCKET none = accept(listener, nullptr, nullptr);
  EXPECT_EQ(INVALID_SOCKET, none);
  EXPECT_EQ(WSAEWOULDBLOCK, WSAGetLastError());
  int second = peer::Connect(port);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval wait = {2, 0};
  ASSERT_EQ(1, select(0, &readable, nullptr, nullptr, &wait));
  sockaddr_in from{};
  int length = sizeof from;
  SOCKET nonBlocking = accept(listener, reinterpret_cast<sockaddr*>(&from), &length);
  ASSERT_NE(INVALID_SOCKET, nonBlocking);
  EXPECT_TRUE(peer::IsNonBlocking(Fd(nonBlocking)));
  EXPECT_EQ(16, length);
  EXPECT_EQ(htonl(INADDR_LOOPBACK), from.sin_addr.s_addr);
  EXPECT_EQ(peer::LocalPort(second), ntohs(from.sin_port));

  closesocket(blocking);
  closesocket(nonBlocking);
  closesocket(listener);
  peer::Close(first);
  peer::Close(second);
}

TEST_F(Winsock, SelectReportsReadinessAndKeepsOnlyReadySockets) {
  int peerFd = -1;
  SOCKET sock = Connected(&peerFd);
  ASSERT_GE(peerFd, 0);
  fd_set readable;
  fd_set writable;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_SET(sock, &readable);
  FD_SET(sock, &writable);
  timeval wait = {0, 50000};
  // Nothing to read, room to write: one socket ready, in one set.
  EXPECT_EQ(1, select(0, &readable, &writable, nullptr, &wait));
  EXPECT_EQ(0u, readable.fd_count);
  EXPECT_EQ(1u, writable.fd_count);

  auto start = std::chrono::steady_clock::now();
  FD_ZERO(&readable);
  FD_SET(sock, &readable);
  EXPECT_EQ(0, select(0, &readable, nullptr, nullptr, &wait));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
  EXPECT_EQ(0u, readable.fd_count);

  ASSERT_TRUE(peer::SendAll(peerFd, "x", 1));
  FD_SET(sock, &readable);
  timeval longer = {2, 0};
  EXPECT_EQ(1, select(0, &readable, nullptr, nullptr, &longer));
  EXPECT_TRUE(FD_ISSET(sock, &readable));

  // A peer's close makes the socket readable too (recv then gives 0).
  peer::Close(peerFd);
  char buffer[4];
  EXPECT_EQ(1, recv(sock, buffer, sizeof buffer, 0));
  FD_ZERO(&readable);
  FD_SET(sock, &readable);
  EXPECT_EQ(1, select(0, &readable, nullptr, nullptr, &longer));
  EXPECT_EQ(0, recv(sock, buffer, sizeof buffer, 0));
  closesocket(sock);
}

TEST_F(Winsock, SelectRefusesEmptySetsAndNonSockets) {
  fd_set empty;
  FD_ZERO(&empty);
  timeval wait = {0, 1000};
  EXPECT_EQ(SOCKET_ERROR, select(0, &empty, nullptr, nullptr, &wait));
  EXPECT_EQ(WSAEINVAL, WSAGetLastError());
  EXPECT_EQ(SOCKET_ERROR, select(0, static_cast<fd_set*>(nullptr), nullptr, nullptr, &wait));
  EXPECT_EQ(WSAEINVAL, WSAGetLastError());
  fd_set bad;
  FD_ZERO(&bad);
  FD_SET(INVALID_SOCKET, &bad);
  EXPECT_EQ(SOCKET_ERROR, select(0, &bad, nullptr, nullptr, &wait));
  EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
}

TEST_F(Winsock, SendAndRecvCheckTheirArguments) {
  int peerFd = -1;
  SOCKET sock = Connected(&peerFd);
  char buffer[4] = {};
  EXPECT_EQ(SOCKET_ERROR, recv(sock, buffer, sizeof buffer, 2));  // MSG_PEEK: not in the layer
  EXPECT_EQ(WSAEOPNOTSUPP, WSAGetLastError());
  EXPECT_EQ(SOCKET_ERROR, send(sock, buffer, -1, 0));
  EXPECT_EQ(WSAEFAULT, WSAGetLastError());
  EXPECT_EQ(SOCKET_ERROR, recv(INVALID_SOCKET, buffer, sizeof buffer, 0));
  EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
  EXPECT_EQ(3, send(sock, "abc", 3, 0));
  EXPECT_EQ(3, peer::Receive(peerFd, buffer, sizeof buffer, 2000));
  closesocket(sock);
  peer::Close(peerFd);
}

TEST_F(Winsock, SendToAClosedPeerGivesResetNotSigpipe) {
  int peerFd = -1;
  SOCKET sock = Connected(&peerFd);
  peer::Close(peerFd);
  int result = 0;
  for (int i = 0; i < 200 && result != SOCKET_ERROR; ++i) {
    result = send(sock, "0123456789", 10, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(SOCKET_ERROR, result);
  EXPECT_EQ(WSAECONNRESET, WSAGetLastError());  // EPIPE or ECONNRESET underneath
  // A further send fails the same way (EPIPE underneath, still no signal).
  EXPECT_EQ(SOCKET_ERROR, send(sock, "x", 1, 0));
  EXPECT_EQ(WSAECONNRESET, WSAGetLastError());
  closesocket(sock);
}

TEST_F(Winsock, ShutdownAndClosesocket) {
  int peerFd = -1;
  SOCKET sock = Connected(&peerFd);
  EXPECT_EQ(SOCKET_ERROR, shutdown(sock, 3));
  EXPECT_EQ(WSAEINVAL, WSAGetLastError());
  EXPECT_EQ(0, shutdown(sock, SD_BOTH));
  char byte = 0;
  EXPECT_EQ(0, peer::Receive(peerFd, &byte, 1, 2000));
  EXPECT_EQ(0, closesocket(sock));
  EXPECT_EQ(SOCKET_ERROR, closesocket(sock));
  EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
  EXPECT_EQ(SOCKET_ERROR, closesocket(INVALID_SOCKET));
  EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
  peer::Close(peerFd);

  // A descriptor that is not a socket is refused and left open.
  int event = peer::OpenNonSocket();
  ASSERT_GE(event, 0);
  EXPECT_EQ(SOCKET_ERROR, closesocket(static_cast<SOCKET>(event)));
  EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
  EXPECT_TRUE(peer::IsOpen(event));
  u_long on = 1;
  EXPECT_EQ(SOCKET_ERROR, ioctlsocket(static_cast<SOCKET>(event), FIONBIO, &on));
  EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
  peer::Close(event);
}

TEST_F(Winsock, GetsocknameGivesTheBoundPort) {
  int port = 0;
  SOCKET listener = Listener(&port);
  sockaddr_in bound{};
  int length = sizeof bound;
  ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length));
  EXPECT_EQ(AF_INET, bound.sin_family);
  EXPECT_EQ(port, ntohs(bound.sin_port));
  EXPECT_EQ(htonl(INADDR_LOOPBACK), bound.sin_addr.s_addr);
  int shortLength = 8;
  EXPECT_EQ(SOCKET_ERROR, getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &shortLength));
  EXPECT_EQ(WSAEFAULT, WSAGetLastError());
  closesocket(listener);
}

}  // namespace
