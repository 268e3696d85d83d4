// The POSIX side of the Winsock layer: the system calls behind each Winsock
// function, with Linux's constants. See posix_sockets.h.
#include "posix_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace twsock::posix {
namespace {

int Result(int value) { return value >= 0 ? value : -errno; }

long long NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int SetIntOption(int fd, int level, int name, int value) {
  return Result(::setsockopt(fd, level, name, &value, sizeof value));
}

}  // namespace

// Windows' blocking calls are not cut short by signals (WSAEINTR only comes
// from the long-gone WSACancelBlockingCall), so a call that EINTR interrupts
// is made again; a connect that EINTR interrupts goes on in the kernel, and
// is waited for to its end.

int Socket(int family, int type, int protocol) {
  // Close-on-exec: the program starts no processes, and a test that does
  // must not hand its sockets to the child.
  return Result(::socket(family, type | SOCK_CLOEXEC, protocol));
}

int CheckSocket(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return -errno;
  }
  return S_ISSOCK(info.st_mode) ? 0 : -ENOTSOCK;
}

int GetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) {
    return -errno;
  }
  return (flags & O_NONBLOCK) != 0 ? 1 : 0;
}

int SetNonBlocking(int fd, bool nonBlocking) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) {
    return -errno;
  }
  flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return Result(::fcntl(fd, F_SETFL, flags));
}

int SetReuseAddress(int fd, int value) { return SetIntOption(fd, SOL_SOCKET, SO_REUSEADDR, value); }

int SetNoDelay(int fd, int value) { return SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, value); }

int GetSockName(int fd, void* address, int* length) {
  socklen_t size = static_cast<socklen_t>(*length);
  int result = ::getsockname(fd, static_cast<sockaddr*>(address), &size);
  if (result == 0) {
    *length = static_cast<int>(size);
  }
  return Result(result);
}

int Connect(int fd, const void* address, int length) {
  if (::connect(fd, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) == 0) {
    return 0;
  }
  if (errno != EINTR || GetNonBlocking(fd) != 0) {
    return -errno;
  }
  pollfd entry{fd, POLLOUT, 0};
  while (::poll(&entry, 1, -1) < 0) {
    if (errno != EINTR) {
      return -errno;
    }
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
    return -errno;
  }
  return -error;
}

int Bind(int fd, const void* address, int length) {
  return Result(::bind(fd, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)));
}

int Listen(int fd, int backlog) { return Result(::listen(fd, backlog)); }

int Accept(int fd, void* address, int* length) {
  int nonBlocking = GetNonBlocking(fd);
  if (nonBlocking < 0) {
    return nonBlocking;
  }
  // Winsock gives an accepted socket the listener's properties, its
  // non-blocking mode among them; Linux's accept does not, accept4 can.
  int flags = SOCK_CLOEXEC | (nonBlocking != 0 ? SOCK_NONBLOCK : 0);
  socklen_t size = length != nullptr ? static_cast<socklen_t>(*length) : 0;
  int result;
  do {
    result =
        ::accept4(fd, static_cast<sockaddr*>(address), length != nullptr ? &size : nullptr, flags);
  } while (result < 0 && errno == EINTR);
  if (result >= 0 && length != nullptr) {
    *length = static_cast<int>(size);
  }
  return Result(result);
}

int Send(int fd, const char* data, int length) {
  ssize_t result;
  do {
    // A send on a connection the peer has closed fails with an error, as on
    // Windows, instead of raising SIGPIPE.
    result = ::send(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (result < 0 && errno == EINTR);
  return result >= 0 ? static_cast<int>(result) : -errno;
}

int Recv(int fd, char* buffer, int length) {
  ssize_t result;
  do {
    result = ::recv(fd, buffer, static_cast<size_t>(length), 0);
  } while (result < 0 && errno == EINTR);
  return result >= 0 ? static_cast<int>(result) : -errno;
}

int Shutdown(int fd, int how) {
  static_assert(SHUT_RD == 0 && SHUT_WR == 1 && SHUT_RDWR == 2, "SD_* and SHUT_* agree");
  return Result(::shutdown(fd, how));
}

int Close(int fd) {
  // Linux releases the descriptor even when close reports EINTR; never retry.
  return Result(::close(fd));
}

int Poll(PollEntry* entries, int count, int timeoutMs) {
  constexpr int kMaxEntries = 3 * 64;  // three sets of FD_SETSIZE
  if (count < 0 || count > kMaxEntries) {
    return -EINVAL;
  }
  pollfd fds[kMaxEntries];
  for (int i = 0; i < count; ++i) {
    short events = 0;
    events |= entries[i].read ? POLLIN : 0;
    events |= entries[i].write ? POLLOUT : 0;
    events |= entries[i].except ? POLLPRI : 0;
    fds[i] = pollfd{entries[i].fd, events, 0};
  }
  const long long deadline = NowMs() + timeoutMs;
  int ready;
  for (;;) {
    int wait = timeoutMs;
    if (timeoutMs >= 0) {
      long long left = deadline - NowMs();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    ready = ::poll(fds, static_cast<nfds_t>(count), wait);
    if (ready >= 0) {
      break;
    }
    if (errno != EINTR) {
      return -errno;
    }
  }
  int marked = 0;
  for (int i = 0; i < count; ++i) {
    const short got = fds[i].revents;
    if ((got & POLLNVAL) != 0) {
      return -EBADF;
    }
    // Windows marks a socket readable when a recv (or accept) would not
    // block: data, a pending connection, the peer's close or an error; and
    // writable when a send would not block, which includes failing at once.
    const bool failed = (got & (POLLERR | POLLHUP)) != 0;
    entries[i].readReady = entries[i].read && ((got & POLLIN) != 0 || failed);
    entries[i].writeReady = entries[i].write && ((got & POLLOUT) != 0 || failed);
    entries[i].exceptReady = entries[i].except && (got & POLLPRI) != 0;
    if (entries[i].readReady || entries[i].writeReady || entries[i].exceptReady) {
      ++marked;
    }
  }
  return marked;
}

bool ParseIPv4(const char* text, std::uint32_t* networkOrder) {
  // inet_aton takes what Windows' inet_addr takes, both being BSD's parser:
  // one to four parts, each decimal, octal (0...) or hexadecimal (0x...),
  // the last part filling the remaining bytes.
  in_addr address{};
  if (::inet_aton(text, &address) == 0) {
    return false;
  }
  *networkOrder = address.s_addr;
  return true;
}

}  // namespace twsock::posix
