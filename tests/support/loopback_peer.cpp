#include "loopback_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace twtest::peer {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

sockaddr_in6 LoopbackIpv6(int port) {
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(static_cast<uint16_t>(port));
  address.sin6_addr = in6addr_loopback;
  return address;
}

bool GetIntOption(int fd, int level, int name) {
  int value = 0;
  socklen_t size = sizeof value;
  return ::getsockopt(fd, level, name, &value, &size) == 0 && value != 0;
}

}  // namespace

int Listen(int* port, int receiveBuffer) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return -1;
  }
  if (receiveBuffer > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  sockaddr_in address = Loopback(0);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 5) != 0) {
    ::close(fd);
    return -1;
  }
  *port = LocalPort(fd);
  return fd;
}

int Accept(int listener, int timeoutMs) {
  pollfd entry{listener, POLLIN, 0};
  if (::poll(&entry, 1, timeoutMs) != 1) {
    return -1;
  }
  return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

int Connect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return -1;
  }
  sockaddr_in address = Loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int ListenIpv6(int* port) {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address = LoopbackIpv6(0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 5) != 0) {
    Close(fd);
    return -1;
  }
  *port = LocalPort(fd);
  return fd;
}

int ConnectIpv6(int port) {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address = LoopbackIpv6(port);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Close(fd);
    return -1;
  }
  return fd;
}

int ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int port = LocalPort(fd);
  ::close(fd);  // bound, never listening: connects to it are refused
  return port;
}

bool PortIsFree(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool isFree = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return isFree;
}

bool SendAll(int fd, const void* data, std::size_t length) {
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    bytes += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

long SendWithoutWaiting(int fd, const void* data, std::size_t length) {
  return static_cast<long>(::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT));
}

long Receive(int fd, void* data, std::size_t length, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, timeoutMs) != 1) {
    return -1;
  }
  return static_cast<long>(::recv(fd, data, length, 0));
}

void Close(int fd) {
  if (fd >= 0) {
    ::close(fd);
  }
}

void ShutdownSend(int fd) { ::shutdown(fd, SHUT_WR); }

void CloseWithReset(int fd) {
  linger abort{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(fd);
}

int LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return -1;
  }
  return ntohs(address.sin_port);
}

bool IsNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

bool HasNoDelay(int fd) { return GetIntOption(fd, IPPROTO_TCP, TCP_NODELAY); }

bool HasReuseAddress(int fd) { return GetIntOption(fd, SOL_SOCKET, SO_REUSEADDR); }

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

int OpenNonSocket() { return ::eventfd(0, EFD_CLOEXEC); }

}  // namespace twtest::peer
