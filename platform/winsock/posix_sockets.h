// The POSIX side of the Winsock layer, in neutral types. winsock.cpp (which
// sees only <winsock2.h>) calls these; posix_sockets.cpp (which sees only the
// POSIX headers) implements them. Every function returns its result (>= 0) or
// -errno, and leaves errno alone otherwise; handles are file descriptors.
//
// Thread contract: none of these keep state; each may be called from any
// thread, on any descriptor, as the underlying system call may.
#pragma once

#include <cstdint>

namespace twsock::posix {

int Socket(int family, int type, int protocol);
// 0 when fd is an open socket; -EBADF or -ENOTSOCK otherwise.
int CheckSocket(int fd);
// 1 when non-blocking, 0 when blocking.
int GetNonBlocking(int fd);
int SetNonBlocking(int fd, bool nonBlocking);
int SetReuseAddress(int fd, int value);
int SetNoDelay(int fd, int value);
// Addresses are IPv4 socket addresses of 16 bytes, laid out as on Windows
// and on Linux alike (family, port, address, zero padding).
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

// Dotted IPv4 text to an address in network byte order; false when refused.
bool ParseIPv4(const char* text, std::uint32_t* networkOrder);

}  // namespace twsock::posix
