// The TCP/IP additions to Winsock 2 that the program calls: IPv6 socket
// addresses, the IPv6-only option and name resolution (getaddrinfo), with
// Windows' names, layouts and error codes. getaddrinfo is the system
// resolver (glibc's, with /etc/hosts, DNS and mDNS as nsswitch.conf says).
#pragma once

#include <winsock2.h>

#include <cstddef>

struct in6_addr {
  union {
    u_char Byte[16];
    u_short Word[8];
  } u;
};
#define s6_addr u.Byte
using IN6_ADDR = in6_addr;

// 28 bytes, as on Windows and Linux alike; only the family number differs.
struct sockaddr_in6 {
  short sin6_family;
  u_short sin6_port;
  u_long sin6_flowinfo;
  in6_addr sin6_addr;
  u_long sin6_scope_id;
};
using SOCKADDR_IN6 = sockaddr_in6;
static_assert(sizeof(sockaddr_in6) == 28, "sockaddr_in6 is 28 bytes");

// setsockopt(IPPROTO_IPV6, ...): Windows' number (26 on Linux).
#define IPV6_V6ONLY 27

// getaddrinfo's hints flags.
#define AI_PASSIVE 0x00000001
#define AI_CANONNAME 0x00000002
#define AI_NUMERICHOST 0x00000004

// getaddrinfo's results are Winsock codes.
#define EAI_AGAIN WSATRY_AGAIN
#define EAI_BADFLAGS WSAEINVAL
#define EAI_FAIL WSANO_RECOVERY
#define EAI_FAMILY WSAEAFNOSUPPORT
#define EAI_MEMORY WSA_NOT_ENOUGH_MEMORY
#define EAI_NONAME WSAHOST_NOT_FOUND
#define EAI_NODATA WSANO_DATA
#define EAI_SERVICE WSATYPE_NOT_FOUND
#define EAI_SOCKTYPE WSAESOCKTNOSUPPORT

// Windows' field order (ai_canonname before ai_addr), which differs from
// glibc's.
struct addrinfo {
  int ai_flags;
  int ai_family;
  int ai_socktype;
  int ai_protocol;
  size_t ai_addrlen;
  char* ai_canonname;
  sockaddr* ai_addr;
  addrinfo* ai_next;
};
using ADDRINFOA = addrinfo;
using PADDRINFOA = addrinfo*;

// 0 and a list in *result, to be released with freeaddrinfo; otherwise a
// Winsock code (also left for WSAGetLastError) and *result null. Names are
// resolved as the system resolver does it; a numeric host (IPv4 in any form
// inet_addr takes, IPv6 in its text form) needs no lookup.
int WSAAPI getaddrinfo(const char* nodeName, const char* serviceName, const ADDRINFOA* hints,
                       PADDRINFOA* result);
void WSAAPI freeaddrinfo(PADDRINFOA addressInfo);
