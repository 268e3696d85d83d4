// Winsock 2 over POSIX sockets: the part of ws2_32 the program calls, with
// Windows' names, types, constants and error codes. A SOCKET is a Linux file
// descriptor; errors come from errno through one mapping table
// (platform/winsock/winsock.cpp) and are kept per thread for WSAGetLastError.
//
// The POSIX socket headers (<sys/socket.h>, <netinet/in.h>, <arpa/inet.h>)
// never meet this header in one source file: they declare socket, sockaddr,
// in_addr, htons ... their own way. The layer itself is split accordingly
// (winsock.cpp sees this header, posix_sockets.cpp the POSIX ones).
//
// glibc's <sys/types.h>, which <cstdlib> and with it nearly every C++ header
// includes, brings <sys/select.h>: its own u_long (64-bit), fd_set (a bit
// mask), FD_* macros and select(). They are included here first, on purpose;
// then u_long and fd_set are macros for the Windows forms below, the FD_*
// macros are replaced, and Windows' select() is an overload taking Windows'
// fd_set. Windows' timeval (two longs) is glibc's struct timeval itself:
// its longs are 64-bit here, which no caller notices (it only sets them).
#pragma once

#include <sys/select.h>
#include <sys/time.h>
#include <sys/types.h>

#include "windef.h"
#include "winerror.h"

using u_char = unsigned char;
using u_short = unsigned short;
using u_int = unsigned int;
using TW_WS_u_long = std::uint32_t;  // unsigned long is 32-bit on Windows
#define u_long TW_WS_u_long

using SOCKET = UINT_PTR;
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

#define WSAAPI

// Address families, socket types, protocols (Windows' numbers: AF_INET6 is
// 10 on Linux, the layer translates).
#define AF_UNSPEC 0
#define AF_INET 2
#define AF_INET6 23
#define SOCK_STREAM 1
#define IPPROTO_TCP 6
#define IPPROTO_IPV6 41

// Socket options (Windows' numbers; the layer maps them to Linux's).
#define SOL_SOCKET 0xffff
#define SO_REUSEADDR 0x0004
#define TCP_NODELAY 0x0001

// ioctlsocket: _IOW('f', 126, u_long).
#define FIONBIO ((LONG)0x8004667EU)

// shutdown directions.
#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#define INADDR_ANY ((u_long)0x00000000)
#define INADDR_LOOPBACK 0x7f000001
#define INADDR_NONE 0xffffffff

struct in_addr {
  union {
    struct {
      u_char s_b1, s_b2, s_b3, s_b4;
    } S_un_b;
    struct {
      u_short s_w1, s_w2;
    } S_un_w;
    u_long S_addr;
  } S_un;
};
#define s_addr S_un.S_addr

struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  short sin_family;
  u_short sin_port;
  in_addr sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16, "sockaddr_in is 16 bytes");

// Room for any socket address (an IPv6 one is 28 bytes), as in ws2def.h.
struct sockaddr_storage {
  short ss_family;
  char ss_pad1[6];
  long long ss_align;
  char ss_pad2[112];
};
using SOCKADDR_STORAGE = sockaddr_storage;
static_assert(sizeof(sockaddr_storage) == 128, "sockaddr_storage is 128 bytes");

// Windows' fd_set: a count and an array of handles, not a bit mask.
#undef FD_SETSIZE
#undef FD_ZERO
#undef FD_SET
#undef FD_ISSET
#undef FD_CLR
#define FD_SETSIZE 64
#define fd_set TW_WS_fd_set
struct fd_set {
  u_int fd_count;
  SOCKET fd_array[FD_SETSIZE];
};

int WSAAPI __WSAFDIsSet(SOCKET s, fd_set* set);

#define FD_ZERO(set) (((fd_set*)(set))->fd_count = 0)
#define FD_ISSET(fd, set) __WSAFDIsSet((SOCKET)(fd), (fd_set*)(set))
#define FD_SET(fd, set)                                                                      \
  do {                                                                                       \
    u_int fdIndex_;                                                                          \
    for (fdIndex_ = 0; fdIndex_ < ((fd_set*)(set))->fd_count; fdIndex_++) {                  \
      if (((fd_set*)(set))->fd_array[fdIndex_] == (SOCKET)(fd)) {                            \
        break;                                                                               \
      }                                                                                      \
    }                                                                                        \
    if (fdIndex_ == ((fd_set*)(set))->fd_count && ((fd_set*)(set))->fd_count < FD_SETSIZE) { \
      ((fd_set*)(set))->fd_array[fdIndex_] = (SOCKET)(fd);                                   \
      ((fd_set*)(set))->fd_count++;                                                          \
    }                                                                                        \
  } while (0)

// WSAStartup's report, in the 64-bit layout.
#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;

// Error codes: winerror.h, where the system's texts for them live too.

int WSAAPI WSAStartup(WORD versionRequested, LPWSADATA data);
int WSAAPI WSACleanup();
int WSAAPI WSAGetLastError();
void WSAAPI WSASetLastError(int error);

SOCKET WSAAPI socket(int af, int type, int protocol);
int WSAAPI ioctlsocket(SOCKET s, LONG cmd, u_long* argp);
int WSAAPI setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int WSAAPI getsockname(SOCKET s, sockaddr* name, int* namelen);
int WSAAPI connect(SOCKET s, const sockaddr* name, int namelen);
int WSAAPI bind(SOCKET s, const sockaddr* name, int namelen);
int WSAAPI listen(SOCKET s, int backlog);
SOCKET WSAAPI accept(SOCKET s, sockaddr* addr, int* addrlen);
// The timeout is a pointer to non-const, as in the SDK's `const PTIMEVAL`. A
// call whose three sets are all null literals matches glibc's select as well
// and does not compile: pass at least one Windows fd_set.
int WSAAPI select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, timeval* timeout);
int WSAAPI send(SOCKET s, const char* buf, int len, int flags);
int WSAAPI recv(SOCKET s, char* buf, int len, int flags);
int WSAAPI shutdown(SOCKET s, int how);
int WSAAPI closesocket(SOCKET s);

u_long WSAAPI inet_addr(const char* cp);

// Byte order: network order is big-endian, the host little-endian (as every
// Windows target is).
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "little-endian host");
inline u_short WSAAPI htons(u_short hostshort) {
  return static_cast<u_short>((hostshort >> 8) | (hostshort << 8));
}
inline u_short WSAAPI ntohs(u_short netshort) { return htons(netshort); }
inline u_long WSAAPI htonl(u_long hostlong) {
  return ((hostlong & 0x000000ffU) << 24) | ((hostlong & 0x0000ff00U) << 8) |
         ((hostlong & 0x00ff0000U) >> 8) | ((hostlong & 0xff000000U) >> 24);
}
inline u_long WSAAPI ntohl(u_long netlong) { return htonl(netlong); }
