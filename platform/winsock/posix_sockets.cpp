// The POSIX side of the Winsock layer: the system calls behind each Winsock
// function, with Linux's constants. See posix_sockets.h.
#include "posix_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host_hooks.h"

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

int LinuxFamily(int family) {
  switch (family) {
    case kFamilyUnspecified:
      return AF_UNSPEC;
    case kFamilyInet:
      return AF_INET;
    case kFamilyInet6:
      return AF_INET6;
    default:
      return -1;
  }
}

// The first two bytes of both layouts hold the family.
void SetFamilyField(void* address, int family) {
  const unsigned short value = static_cast<unsigned short>(family);
  std::memcpy(address, &value, sizeof value);
}

// A Windows-layout address as Linux takes it.
sockaddr_storage ToLinux(const void* address, int length) {
  sockaddr_storage result{};
  std::memcpy(&result, address, static_cast<size_t>(length));
  if (result.ss_family == kFamilyInet6) {
    result.ss_family = AF_INET6;
  }
  return result;
}

// A Linux address into the caller's Windows-layout buffer of *length bytes.
int FromLinux(const sockaddr_storage& native, socklen_t size, void* address, int* length) {
  if (static_cast<int>(size) > *length) {
    return -EFAULT;  // Windows refuses a buffer too small for the address
  }
  std::memcpy(address, &native, size);
  if (native.ss_family == AF_INET6) {
    SetFamilyField(address, kFamilyInet6);
  }
  *length = static_cast<int>(size);
  return 0;
}

}  // namespace

// Windows' blocking calls are not cut short by signals (WSAEINTR only comes
// from the long-gone WSACancelBlockingCall), so a call that EINTR interrupts
// is made again; a connect that EINTR interrupts goes on in the kernel, and
// is waited for to its end.

int Socket(int family, int type, int protocol) {
  // Close-on-exec: the program starts no processes, and a test that does
  // must not hand its sockets to the child.
  const int linuxFamily = LinuxFamily(family);
  if (linuxFamily < 0 || linuxFamily == AF_UNSPEC) {
    return -EAFNOSUPPORT;
  }
  return Result(::socket(linuxFamily, type | SOCK_CLOEXEC, protocol));
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

int SetIpv6Only(int fd, int value) { return SetIntOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, value); }

int GetSockName(int fd, void* address, int* length) {
  sockaddr_storage native{};
  socklen_t size = sizeof native;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&native), &size) != 0) {
    return -errno;
  }
  return FromLinux(native, size, address, length);
}

int Connect(int fd, const void* address, int length) {
  const sockaddr_storage target = ToLinux(address, length);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), static_cast<socklen_t>(length)) ==
      0) {
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
  const sockaddr_storage local = ToLinux(address, length);
  return Result(
      ::bind(fd, reinterpret_cast<const sockaddr*>(&local), static_cast<socklen_t>(length)));
}

// A listener is announced to the host once it listens; its port is the one
// bound (the program may have bound port 0).
int Listen(int fd, int backlog) {
  const int result = Result(::listen(fd, backlog));
  HostHooks* hooks = CurrentHostHooks();
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (result == 0 && hooks != nullptr &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
    const in_port_t port = local.ss_family == AF_INET6
                               ? reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port
                               : reinterpret_cast<const sockaddr_in*>(&local)->sin_port;
    hooks->Listening(fd, ntohs(port));
  }
  return result;
}

int Accept(int fd, void* address, int* length) {
  int nonBlocking = GetNonBlocking(fd);
  if (nonBlocking < 0) {
    return nonBlocking;
  }
  // Winsock gives an accepted socket the listener's properties, its
  // non-blocking mode among them; Linux's accept does not, accept4 can.
  int flags = SOCK_CLOEXEC | (nonBlocking != 0 ? SOCK_NONBLOCK : 0);
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  int result;
  do {
    result = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &size, flags);
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    return -errno;
  }
  if (address != nullptr) {
    int copied = FromLinux(peer, size, address, length);
    if (copied < 0) {
      ::close(result);  // as Windows: the connection is not handed over
      return copied;
    }
  }
  return result;
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
  HostHooks* hooks = CurrentHostHooks();
  int listening = 0;
  socklen_t size = sizeof listening;
  if (hooks != nullptr && ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 &&
      listening != 0) {
    hooks->ListenerClosing(fd);
  }
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

namespace twsock::posix {
namespace {

LookupError LookupErrorFrom(int code) {
  switch (code) {
    case EAI_NONAME:
      return LookupError::kNoName;
    case EAI_AGAIN:
      return LookupError::kTryAgain;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return LookupError::kNoData;
    case EAI_FAMILY:
      return LookupError::kFamily;
    case EAI_MEMORY:
      return LookupError::kMemory;
    case EAI_BADFLAGS:
      return LookupError::kBadFlags;
    case EAI_SERVICE:
      return LookupError::kService;
    case EAI_SOCKTYPE:
      return LookupError::kSocketType;
    case EAI_SYSTEM:
      return LookupError::kSystem;
    default:
      return LookupError::kFailed;
  }
}

void Collect(const addrinfo* list, std::vector<ResolvedAddress>* found) {
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    const bool inet6 = entry->ai_family == AF_INET6;
    if ((!inet6 && entry->ai_family != AF_INET) || entry->ai_addr == nullptr) {
      continue;
    }
    ResolvedAddress address{};
    address.family = inet6 ? kFamilyInet6 : kFamilyInet;
    address.length = inet6 ? kInet6AddressBytes : kInetAddressBytes;
    if (entry->ai_addrlen < static_cast<socklen_t>(address.length)) {
      continue;
    }
    std::memcpy(address.bytes, entry->ai_addr, static_cast<size_t>(address.length));
    SetFamilyField(address.bytes, address.family);
    found->push_back(address);
  }
}

// A name the system resolver did not find may be one the host knows (an
// announced Server's). Only for a host name alone, as the program looks one
// up, where an IPv4 address will do.
bool ResolvedByHost(const char* node, const char* service, const addrinfo& hints, LookupError error,
                    std::vector<ResolvedAddress>* found) {
  HostHooks* hooks = CurrentHostHooks();
  const bool unknown = error == LookupError::kNoName || error == LookupError::kNoData ||
                       error == LookupError::kTryAgain;
  if (hooks == nullptr || !unknown || node == nullptr || service != nullptr ||
      (hints.ai_flags & AI_NUMERICHOST) != 0 ||
      (hints.ai_family != AF_UNSPEC && hints.ai_family != AF_INET)) {
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (!hooks->ResolveName(node, &address.sin_addr.s_addr)) {
    return false;
  }
  ResolvedAddress entry{};
  entry.family = kFamilyInet;
  entry.length = kInetAddressBytes;
  std::memcpy(entry.bytes, &address, sizeof address);
  SetFamilyField(entry.bytes, entry.family);
  found->push_back(entry);
  return true;
}

}  // namespace

LookupError Lookup(const char* node, const char* service, int family, bool passive,
                   bool numericHost, std::vector<ResolvedAddress>* found, int* systemError) {
  addrinfo hints{};
  hints.ai_family = LinuxFamily(family);
  if (hints.ai_family < 0) {
    return LookupError::kFamily;
  }
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = (passive ? AI_PASSIVE : 0) | (numericHost ? AI_NUMERICHOST : 0);
  addrinfo* list = nullptr;
  const int code = ::getaddrinfo(node, service, &hints, &list);
  if (code != 0) {
    *systemError = code == EAI_SYSTEM ? errno : 0;
    const LookupError error = LookupErrorFrom(code);
    return ResolvedByHost(node, service, hints, error, found) ? LookupError::kNone : error;
  }
  Collect(list, found);
  ::freeaddrinfo(list);
  return found->empty() ? LookupError::kNoData : LookupError::kNone;
}

const char* ErrnoText(int error) { return ::strerrordesc_np(error); }

const char* LookupErrorText(LookupError error) {
  switch (error) {
    case LookupError::kNoName:
      return ::gai_strerror(EAI_NONAME);
    case LookupError::kTryAgain:
      return ::gai_strerror(EAI_AGAIN);
    case LookupError::kFailed:
      return ::gai_strerror(EAI_FAIL);
    case LookupError::kNoData:
      return ::gai_strerror(EAI_NODATA);
    default:
      return nullptr;  // never the result of a program's lookup by name
  }
}

}  // namespace twsock::posix
