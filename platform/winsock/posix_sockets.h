// The POSIX side of the Winsock layer, in neutral types. winsock.cpp (which
// sees only <winsock2.h>) calls these; posix_sockets.cpp (which sees only the
// POSIX headers) implements them. Every function returns its result (>= 0) or
// -errno, and leaves errno alone otherwise; handles are file descriptors.
//
// Thread contract: none of these keep state; each may be called from any
// thread, on any descriptor, as the underlying system call may.
#pragma once

#include <cstdint>
#include <vector>

namespace twsock::posix {

// Address families as the Winsock side numbers them; the POSIX side turns
// them into Linux's (AF_INET6 is 23 on Windows, 10 on Linux).
inline constexpr int kFamilyUnspecified = 0;
inline constexpr int kFamilyInet = 2;
inline constexpr int kFamilyInet6 = 23;
inline constexpr int kInetAddressBytes = 16;
inline constexpr int kInet6AddressBytes = 28;

int Socket(int family, int type, int protocol);
// 0 when fd is an open socket; -EBADF or -ENOTSOCK otherwise.
int CheckSocket(int fd);
// 1 when non-blocking, 0 when blocking.
int GetNonBlocking(int fd);
int SetNonBlocking(int fd, bool nonBlocking);
int SetReuseAddress(int fd, int value);
int SetNoDelay(int fd, int value);
int SetIpv6Only(int fd, int value);
// Addresses are IPv4 socket addresses of 16 bytes or IPv6 ones of 28, laid
// out as on Windows and on Linux alike (family, port, address, ...) but for
// the family number, which is Windows' on this side. The address a call
// returns must fit in *length bytes (-EFAULT otherwise, as on Windows).
int GetSockName(int fd, void* address, int* length);
int Connect(int fd, const void* address, int length);
int Bind(int fd, const void* address, int length);
int Listen(int fd, int backlog);
// The new socket takes the listener's blocking mode.
int Accept(int fd, void* address, int* length);
int Send(int fd, const char* data, int length);
int Recv(int fd, char* buffer, int length);
// how: 0 receive, 1 send, 2 both (Windows' SD_* and POSIX's SHUT_* agree).
int Shutdown(int fd, int how);
int Close(int fd);

struct PollEntry {
  int fd;
  bool read;
  bool write;
  bool except;
  bool readReady;
  bool writeReady;
  bool exceptReady;
};
// Waits until one of the entries is ready or timeoutMs passes (-1: no limit).
// Returns the number of entries with a ready flag set, 0 on time-out,
// -EBADF when one of the descriptors is not open.
int Poll(PollEntry* entries, int count, int timeoutMs);

// One address getaddrinfo found, in Windows' layout.
struct ResolvedAddress {
  int family;  // kFamilyInet or kFamilyInet6
  int length;  // kInetAddressBytes or kInet6AddressBytes
  unsigned char bytes[kInet6AddressBytes];
};

// Why a lookup failed, in the resolver's own terms.
enum class LookupError {
  kNone,
  kNoName,    // the name is not known
  kTryAgain,  // no answer for now (no server reachable)
  kFailed,    // a non-recoverable resolver failure
  kNoData,    // the name exists without an address of the family asked for
  kFamily,    // the family is not supported
  kMemory,
  kBadFlags,
  kService,  // the service (port) text is not known
  kSocketType,
  kSystem,  // a system call failed: errno in *systemError
};

// The system resolver for a stream socket: flags passive (bind address when
// node is null) and numericHost (no lookup). Results in the resolver's order.
LookupError Lookup(const char* node, const char* service, int family, bool passive,
                   bool numericHost, std::vector<ResolvedAddress>* found, int* systemError);

// Readable Linux texts for a failure, as the C library words them.
const char* ErrnoText(int error);
const char* LookupErrorText(LookupError error);

// Dotted IPv4 text to an address in network byte order; false when refused.
bool ParseIPv4(const char* text, std::uint32_t* networkOrder);

}  // namespace twsock::posix
