// The other end of a loopback connection in socket tests, made with plain
// POSIX calls rather than the Winsock layer under test, so that a test never
// checks the layer against itself. Handles are file descriptors (a SOCKET of
// the layer is one too); every function works on 127.0.0.1.
//
// This header includes no system header: a test source that includes
// <winsock2.h> can include it as well.
#pragma once

#include <cstddef>
#include <cstdint>

namespace twtest::peer {

// A listening socket on 127.0.0.1 and a free port; *port receives the port.
// receiveBuffer > 0 sets SO_RCVBUF first, so accepted connections inherit a
// small window. -1 on failure.
int Listen(int* port, int receiveBuffer = 0);
// Waits up to timeoutMs for a connection; -1 on time-out or failure.
int Accept(int listener, int timeoutMs);
// A blocking connection to 127.0.0.1:port; -1 on failure.
int Connect(int port);
// The same over IPv6 loopback (::1); -1 where the machine has no IPv6.
int ListenIpv6(int* port);
int ConnectIpv6(int port);
// A port on 127.0.0.1 that nothing listens on (bound and released again).
int ClosedPort();
// True when a listener could bind 0.0.0.0:port right now.
bool PortIsFree(int port);

// Sends everything (blocking, no SIGPIPE); false on failure.
bool SendAll(int fd, const void* data, std::size_t length);
// Sends what the socket takes at once; the count, or -1 (nothing fits).
long SendWithoutWaiting(int fd, const void* data, std::size_t length);
// Receives up to length bytes, waiting up to timeoutMs for the first;
// the count, 0 at end of stream, -1 on time-out or failure.
long Receive(int fd, void* data, std::size_t length, int timeoutMs);

void Close(int fd);
// Ends the sending direction: the other side reads an orderly end of stream.
void ShutdownSend(int fd);
// Closes with SO_LINGER 0: the kernel sends a reset instead of a FIN.
void CloseWithReset(int fd);

// The local port of a socket, -1 on failure.
int LocalPort(int fd);
bool IsNonBlocking(int fd);
bool HasNoDelay(int fd);
bool HasReuseAddress(int fd);
// True while fd is an open descriptor of this process.
bool IsOpen(int fd);
// A descriptor that is not a socket (an eventfd), for refusal tests.
int OpenNonSocket();

}  // namespace twtest::peer
