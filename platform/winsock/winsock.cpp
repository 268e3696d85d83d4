// The Winsock functions: argument checks and translation to the POSIX side
// (posix_sockets.cpp), errno to Winsock codes, the per-thread last error and
// the library's start count.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "posix_sockets.h"
#include "winsock_errors.h"

namespace twsock {
namespace {

thread_local int lastError = 0;

// Started WSAStartup calls not yet matched by WSACleanup.
std::atomic<int> startCount{0};

struct ErrnoMapping {
  int error;
  int wsaError;
};

// The one errno-to-Winsock table. First match wins (EAGAIN and EWOULDBLOCK,
// ENOTSUP and EOPNOTSUPP are the same number on Linux).
constexpr ErrnoMapping kErrnoTable[] = {
    {EINTR, WSAEINTR},
    // A handle that is no open descriptor is "not a socket" to Winsock.
    {EBADF, WSAENOTSOCK},
    {ENOTSOCK, WSAENOTSOCK},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    // A non-blocking connect under way is WSAEWOULDBLOCK on Windows.
    {EINPROGRESS, WSAEWOULDBLOCK},
    {EALREADY, WSAEALREADY},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {ENOTSUP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    // EPIPE: Linux reports it for a send on a connection that the peer
    // reset after closing its side (the reset in CLOSE_WAIT sets EPIPE, not
    // ECONNRESET), and for every send after a reset was reported once.
    // Windows reports WSAECONNRESET in those cases. Its other cause, a send
    // after our own shutdown(SD_SEND) (WSAESHUTDOWN on Windows), the program
    // never makes: it shuts a socket down only to close it.
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

// Sets the last error and returns SOCKET_ERROR, for `return Fail(...)`.
int Fail(int wsaError) {
  lastError = wsaError;
  return SOCKET_ERROR;
}

// For a POSIX-side result: passes a success through, turns -errno into
// SOCKET_ERROR with the mapped last error.
int Check(int result) { return result >= 0 ? result : Fail(WsaErrorFromErrno(-result)); }

// The descriptor behind a handle; false (WSAENOTSOCK set) when the handle
// cannot be one.
bool ToFd(SOCKET s, int* fd) {
  if (s > static_cast<SOCKET>(INT_MAX)) {
    Fail(WSAENOTSOCK);
    return false;
  }
  *fd = static_cast<int>(s);
  return true;
}

// A socket address argument: an IPv4 one of 16 bytes or an IPv6 one of 28
// at least. The address's own size in *length.
bool CheckAddress(const sockaddr* name, int namelen, int* length) {
  if (name == nullptr || namelen < static_cast<int>(sizeof(sockaddr_in))) {
    Fail(WSAEFAULT);
    return false;
  }
  if (name->sa_family != AF_INET && name->sa_family != AF_INET6) {
    Fail(WSAEAFNOSUPPORT);
    return false;
  }
  *length = name->sa_family == AF_INET ? static_cast<int>(sizeof(sockaddr_in))
                                       : static_cast<int>(sizeof(sockaddr_in6));
  if (namelen < *length) {
    Fail(WSAEFAULT);
    return false;
  }
  return true;
}

// Windows refuses to connect to the unspecified address (0.0.0.0 or ::);
// Linux would reach this machine.
bool IsUnspecified(const sockaddr* name) {
  if (name->sa_family == AF_INET) {
    sockaddr_in target{};
    std::memcpy(&target, name, sizeof target);
    return target.sin_addr.s_addr == INADDR_ANY;
  }
  sockaddr_in6 target{};
  std::memcpy(&target, name, sizeof target);
  static const in6_addr kAny{};
  return std::memcmp(&target.sin6_addr, &kAny, sizeof kAny) == 0;
}

bool CheckBuffer(const char* buf, int len, int flags) {
  if (len < 0 || (buf == nullptr && len > 0)) {
    Fail(WSAEFAULT);
    return false;
  }
  // The program passes flags 0 only; MSG_PEEK, MSG_OOB and the rest are not
  // part of the layer.
  if (flags != 0) {
    Fail(WSAEOPNOTSUPP);
    return false;
  }
  return true;
}

// Appends the sockets of one set to the poll entries; false (WSAENOTSOCK)
// for a handle that cannot be a socket.
bool AddSet(fd_set* set, int kind, posix::PollEntry* entries, int* count) {
  if (set == nullptr) {
    return true;
  }
  for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i) {
    int fd = -1;
    if (!ToFd(set->fd_array[i], &fd)) {
      return false;
    }
    entries[*count] = posix::PollEntry{fd, kind == 0, kind == 1, kind == 2, false, false, false};
    ++*count;
  }
  return true;
}

// Keeps in a set only the sockets found ready, in their order.
void KeepReady(fd_set* set, int kind, const posix::PollEntry* entries, int* index) {
  if (set == nullptr) {
    return;
  }
  u_int kept = 0;
  const u_int count = set->fd_count < FD_SETSIZE ? set->fd_count : FD_SETSIZE;
  for (u_int i = 0; i < count; ++i, ++*index) {
    const posix::PollEntry& entry = entries[*index];
    bool ready = kind == 0 ? entry.readReady : kind == 1 ? entry.writeReady : entry.exceptReady;
    if (ready) {
      set->fd_array[kept++] = set->fd_array[i];
    }
  }
  set->fd_count = kept;
}

}  // namespace

int WsaErrorFromErrno(int error) {
  for (const ErrnoMapping& mapping : kErrnoTable) {
    if (mapping.error == error) {
      return mapping.wsaError;
    }
  }
  // An errno the table does not know: Winsock's own "should never happen".
  return WSASYSCALLFAILURE;
}

}  // namespace twsock

using twsock::Check;
using twsock::Fail;
using twsock::ToFd;

int WSAAPI WSAStartup(WORD versionRequested, LPWSADATA data) {
  // WSAStartup returns its error instead of setting the last error.
  if (data == nullptr) {
    return WSAEFAULT;
  }
  const int major = versionRequested & 0xff;
  const int minor = (versionRequested >> 8) & 0xff;
  if (major < 1) {
    return WSAVERNOTSUPPORTED;  // below 1.0, the lowest version Winsock offers
  }
  constexpr WORD kHighest = 0x0202;  // 2.2
  std::memset(data, 0, sizeof *data);
  data->wVersion = (major > 2 || (major == 2 && minor > 2)) ? kHighest : versionRequested;
  data->wHighVersion = kHighest;
  std::strncpy(data->szDescription, "WinSock 2.0", WSADESCRIPTION_LEN);
  std::strncpy(data->szSystemStatus, "Running", WSASYS_STATUS_LEN);
  twsock::startCount.fetch_add(1);
  return 0;
}

int WSAAPI WSACleanup() {
  int count = twsock::startCount.load();
  while (count > 0) {
    if (twsock::startCount.compare_exchange_weak(count, count - 1)) {
      return 0;
    }
  }
  return Fail(WSANOTINITIALISED);
}

int WSAAPI WSAGetLastError() { return twsock::lastError; }

void WSAAPI WSASetLastError(int error) { twsock::lastError = error; }

int WSAAPI __WSAFDIsSet(SOCKET s, fd_set* set) {
  for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i) {
    if (set->fd_array[i] == s) {
      return 1;
    }
  }
  return 0;
}

SOCKET WSAAPI socket(int af, int type, int protocol) {
  // As on Windows, a socket needs a started library. Every other call needs
  // a socket, so this one check stands for all of them.
  if (twsock::startCount.load() <= 0) {
    Fail(WSANOTINITIALISED);
    return INVALID_SOCKET;
  }
  if (af != AF_INET && af != AF_INET6) {
    Fail(WSAEAFNOSUPPORT);  // IPv4 and IPv6 only
    return INVALID_SOCKET;
  }
  if (type != SOCK_STREAM) {
    Fail(WSAESOCKTNOSUPPORT);  // TCP only
    return INVALID_SOCKET;
  }
  if (protocol != 0 && protocol != IPPROTO_TCP) {
    Fail(WSAEPROTONOSUPPORT);
    return INVALID_SOCKET;
  }
  // SOCK_STREAM and IPPROTO_TCP have the same numbers on Linux; the POSIX
  // side translates the family.
  int fd = twsock::posix::Socket(af, type, protocol);
  if (fd < 0) {
    Fail(twsock::WsaErrorFromErrno(-fd));
    return INVALID_SOCKET;
  }
  return static_cast<SOCKET>(fd);
}

int WSAAPI ioctlsocket(SOCKET s, LONG cmd, u_long* argp) {
  int fd = -1;
  if (!ToFd(s, &fd)) {
    return SOCKET_ERROR;
  }
  if (cmd != FIONBIO) {
    return Fail(WSAEINVAL);  // FIONBIO is the one command the program gives
  }
  if (argp == nullptr) {
    return Fail(WSAEFAULT);
  }
  // Only a socket's mode is changed, never another descriptor's.
  if (Check(twsock::posix::CheckSocket(fd)) == SOCKET_ERROR) {
    return SOCKET_ERROR;
  }
  return Check(twsock::posix::SetNonBlocking(fd, *argp != 0)) == SOCKET_ERROR ? SOCKET_ERROR : 0;
}

int WSAAPI setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  int fd = -1;
  if (!ToFd(s, &fd)) {
    return SOCKET_ERROR;
  }
  if (optval == nullptr || optlen < static_cast<int>(sizeof(int))) {
    return Fail(WSAEFAULT);
  }
  int value = 0;
  std::memcpy(&value, optval, sizeof value);
  const int on = value != 0 ? 1 : 0;  // both options are BOOLs
  int result = 0;
  if (level == SOL_SOCKET && optname == SO_REUSEADDR) {
    // Windows' SO_REUSEADDR also lets a socket bind a port that another
    // socket is listening on; Linux's lets it bind only past sockets that
    // set it too and are not listening (connections lingering in TIME_WAIT,
    // which inherit it from the program's listener), and refuses a live
    // listener's port (EADDRINUSE). The layer keeps Linux's meaning: the
    // program sets it so that a new Server run can bind at once after the
    // last, which both allow, and a second Server on a busy port fails
    // rather than steals it.
    result = twsock::posix::SetReuseAddress(fd, on);
  } else if (level == IPPROTO_TCP && optname == TCP_NODELAY) {
    result = twsock::posix::SetNoDelay(fd, on);
  } else if (level == IPPROTO_IPV6 && optname == IPV6_V6ONLY) {
    result = twsock::posix::SetIpv6Only(fd, on);
  } else {
    return Fail(WSAENOPROTOOPT);
  }
  return Check(result) == SOCKET_ERROR ? SOCKET_ERROR : 0;
}

int WSAAPI getsockname(SOCKET s, sockaddr* name, int* namelen) {
  int fd = -1;
  if (!ToFd(s, &fd)) {
    return SOCKET_ERROR;
  }
  if (name == nullptr || namelen == nullptr || *namelen < static_cast<int>(sizeof(sockaddr_in))) {
    return Fail(WSAEFAULT);
  }
  return Check(twsock::posix::GetSockName(fd, name, namelen)) == SOCKET_ERROR ? SOCKET_ERROR : 0;
}

int WSAAPI connect(SOCKET s, const sockaddr* name, int namelen) {
  int fd = -1;
  int length = 0;
  if (!ToFd(s, &fd) || !twsock::CheckAddress(name, namelen, &length)) {
    return SOCKET_ERROR;
  }
  if (twsock::IsUnspecified(name)) {
    return Fail(WSAEADDRNOTAVAIL);
  }
  return Check(twsock::posix::Connect(fd, name, length)) == SOCKET_ERROR ? SOCKET_ERROR : 0;
}

int WSAAPI bind(SOCKET s, const sockaddr* name, int namelen) {
  int fd = -1;
  int length = 0;
  if (!ToFd(s, &fd) || !twsock::CheckAddress(name, namelen, &length)) {
    return SOCKET_ERROR;
  }
  return Check(twsock::posix::Bind(fd, name, length)) == SOCKET_ERROR ? SOCKET_ERROR : 0;
}

int WSAAPI listen(SOCKET s, int backlog) {
  int fd = -1;
  if (!ToFd(s, &fd)) {
    return SOCKET_ERROR;
  }
  return Check(twsock::posix::Listen(fd, backlog)) == SOCKET_ERROR ? SOCKET_ERROR : 0;
}

SOCKET WSAAPI accept(SOCKET s, sockaddr* addr, int* addrlen) {
  int fd = -1;
  if (!ToFd(s, &fd)) {
    return INVALID_SOCKET;
  }
  if (addr != nullptr && (addrlen == nullptr || *addrlen < static_cast<int>(sizeof(sockaddr_in)))) {
    Fail(WSAEFAULT);
    return INVALID_SOCKET;
  }
  int result = twsock::posix::Accept(fd, addr, addr != nullptr ? addrlen : nullptr);
  if (result < 0) {
    Fail(twsock::WsaErrorFromErrno(-result));
    return INVALID_SOCKET;
  }
  return static_cast<SOCKET>(result);
}

int WSAAPI select(int /*nfds: ignored, as on Windows*/, fd_set* readfds, fd_set* writefds,
                  fd_set* exceptfds, timeval* timeout) {
  twsock::posix::PollEntry entries[3 * FD_SETSIZE];
  int count = 0;
  if (!twsock::AddSet(readfds, 0, entries, &count) ||
      !twsock::AddSet(writefds, 1, entries, &count) ||
      !twsock::AddSet(exceptfds, 2, entries, &count)) {
    return SOCKET_ERROR;
  }
  if (count == 0) {
    return Fail(WSAEINVAL);  // Windows has nothing to wait on: no sets, or only empty ones
  }
  int timeoutMs = -1;
  if (timeout != nullptr) {
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0) {
      return Fail(WSAEINVAL);
    }
    // Rounded up to whole milliseconds, so a wait is never cut short.
    long long ms = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
    timeoutMs = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
  }
  int ready = twsock::posix::Poll(entries, count, timeoutMs);
  if (ready < 0) {
    return Fail(twsock::WsaErrorFromErrno(-ready));
  }
  int index = 0;
  twsock::KeepReady(readfds, 0, entries, &index);
  twsock::KeepReady(writefds, 1, entries, &index);
  twsock::KeepReady(exceptfds, 2, entries, &index);
  return ready;
}

int WSAAPI send(SOCKET s, const char* buf, int len, int flags) {
  int fd = -1;
  if (!ToFd(s, &fd) || !twsock::CheckBuffer(buf, len, flags)) {
    return SOCKET_ERROR;
  }
  return Check(twsock::posix::Send(fd, buf, len));
}

int WSAAPI recv(SOCKET s, char* buf, int len, int flags) {
  int fd = -1;
  if (!ToFd(s, &fd) || !twsock::CheckBuffer(buf, len, flags)) {
    return SOCKET_ERROR;
  }
  return Check(twsock::posix::Recv(fd, buf, len));
}

int WSAAPI shutdown(SOCKET s, int how) {
  int fd = -1;
  if (!ToFd(s, &fd)) {
    return SOCKET_ERROR;
  }
  if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH) {
    return Fail(WSAEINVAL);
  }
  return Check(twsock::posix::Shutdown(fd, how)) == SOCKET_ERROR ? SOCKET_ERROR : 0;
}

int WSAAPI closesocket(SOCKET s) {
  int fd = -1;
  if (!ToFd(s, &fd)) {
    return SOCKET_ERROR;
  }
  // A handle that is not a socket is refused, never closed: closing some
  // other descriptor of the process (an event, a file) would be a silent bug.
  if (Check(twsock::posix::CheckSocket(fd)) == SOCKET_ERROR) {
    return SOCKET_ERROR;
  }
  return Check(twsock::posix::Close(fd)) == SOCKET_ERROR ? SOCKET_ERROR : 0;
}

u_long WSAAPI inet_addr(const char* cp) {
  std::uint32_t address = 0;
  if (cp == nullptr || !twsock::posix::ParseIPv4(cp, &address)) {
    return INADDR_NONE;
  }
  return address;
}

namespace twsock {
namespace {

int WsaErrorFromLookup(posix::LookupError error, int systemError) {
  using posix::LookupError;
  switch (error) {
    case LookupError::kNone:
      return 0;
    case LookupError::kNoName:
      return WSAHOST_NOT_FOUND;
    case LookupError::kTryAgain:
      return WSATRY_AGAIN;
    case LookupError::kNoData:
      return WSANO_DATA;
    case LookupError::kFamily:
      return WSAEAFNOSUPPORT;
    case LookupError::kMemory:
      return WSA_NOT_ENOUGH_MEMORY;
    case LookupError::kBadFlags:
      return WSAEINVAL;
    case LookupError::kService:
      return WSATYPE_NOT_FOUND;
    case LookupError::kSocketType:
      return WSAESOCKTNOSUPPORT;
    case LookupError::kSystem:
      return WsaErrorFromErrno(systemError);
    case LookupError::kFailed:
      break;
  }
  return WSANO_RECOVERY;
}

// One list entry and the address it points to, released together.
struct AddressNode {
  addrinfo info;
  sockaddr_storage address;
};

// The resolver's addresses as Windows' list, in their order; null when
// memory runs out.
addrinfo* BuildList(const std::vector<posix::ResolvedAddress>& found) {
  addrinfo* head = nullptr;
  addrinfo** tail = &head;
  for (const posix::ResolvedAddress& entry : found) {
    AddressNode* node = new (std::nothrow) AddressNode{};
    if (node == nullptr) {
      freeaddrinfo(head);
      return nullptr;
    }
    std::memcpy(&node->address, entry.bytes, static_cast<size_t>(entry.length));
    node->info.ai_family = entry.family == posix::kFamilyInet6 ? AF_INET6 : AF_INET;
    node->info.ai_socktype = SOCK_STREAM;
    node->info.ai_protocol = IPPROTO_TCP;
    node->info.ai_addrlen = static_cast<size_t>(entry.length);
    node->info.ai_addr = reinterpret_cast<sockaddr*>(&node->address);
    *tail = &node->info;
    tail = &node->info.ai_next;
  }
  return head;
}

bool CheckHints(const ADDRINFOA* hints) {
  if (hints == nullptr) {
    return true;
  }
  if (hints->ai_family != AF_UNSPEC && hints->ai_family != AF_INET &&
      hints->ai_family != AF_INET6) {
    Fail(WSAEAFNOSUPPORT);
    return false;
  }
  if (hints->ai_socktype != 0 && hints->ai_socktype != SOCK_STREAM) {
    Fail(WSAESOCKTNOSUPPORT);  // TCP only
    return false;
  }
  if ((hints->ai_flags & ~(AI_PASSIVE | AI_CANONNAME | AI_NUMERICHOST)) != 0) {
    Fail(WSAEINVAL);
    return false;
  }
  return true;
}

}  // namespace

const char* LinuxErrorText(std::uint32_t code) {
  switch (code) {
    case WSAHOST_NOT_FOUND:
      return posix::LookupErrorText(posix::LookupError::kNoName);
    case WSATRY_AGAIN:
      return posix::LookupErrorText(posix::LookupError::kTryAgain);
    case WSANO_RECOVERY:
      return posix::LookupErrorText(posix::LookupError::kFailed);
    case WSANO_DATA:
      return posix::LookupErrorText(posix::LookupError::kNoData);
    default:
      break;
  }
  // The first errno that maps to the code: the table lists the usual cause
  // of each code before its rarer ones.
  for (const ErrnoMapping& mapping : kErrnoTable) {
    if (static_cast<std::uint32_t>(mapping.wsaError) == code) {
      return posix::ErrnoText(mapping.error);
    }
  }
  return nullptr;
}

}  // namespace twsock

int WSAAPI getaddrinfo(const char* nodeName, const char* serviceName, const ADDRINFOA* hints,
                       PADDRINFOA* result) {
  if (result == nullptr) {
    Fail(WSAEINVAL);
    return WSAEINVAL;
  }
  *result = nullptr;
  if (twsock::startCount.load() <= 0) {
    Fail(WSANOTINITIALISED);
    return WSANOTINITIALISED;
  }
  if (nodeName == nullptr && serviceName == nullptr) {
    Fail(WSAHOST_NOT_FOUND);
    return WSAHOST_NOT_FOUND;
  }
  if (!twsock::CheckHints(hints)) {
    return WSAGetLastError();
  }
  const int family = hints != nullptr ? hints->ai_family : AF_UNSPEC;
  const int flags = hints != nullptr ? hints->ai_flags : 0;
  std::vector<twsock::posix::ResolvedAddress> found;
  int systemError = 0;
  const twsock::posix::LookupError error =
      twsock::posix::Lookup(nodeName, serviceName, family, (flags & AI_PASSIVE) != 0,
                            (flags & AI_NUMERICHOST) != 0, &found, &systemError);
  const int code = twsock::WsaErrorFromLookup(error, systemError);
  if (code != 0) {
    Fail(code);
    return code;
  }
  *result = twsock::BuildList(found);
  if (*result == nullptr) {
    Fail(WSA_NOT_ENOUGH_MEMORY);
    return WSA_NOT_ENOUGH_MEMORY;
  }
  return 0;
}

void WSAAPI freeaddrinfo(PADDRINFOA addressInfo) {
  while (addressInfo != nullptr) {
    addrinfo* next = addressInfo->ai_next;
    // Every entry is the first member of an AddressNode made by BuildList.
    delete reinterpret_cast<twsock::AddressNode*>(addressInfo);
    addressInfo = next;
  }
}
