// The socket operations of both roles: start the library once, open a
// connection (Client) or a listener (Server), move bytes over non-blocking
// sockets in short readiness waits, close in an orderly way.
//
// Thread contract: StartWinsockOnce runs on the user-interface thread, every
// other operation on the worker. The loops read appState.stopRequested
// between bounded waits (50 ms receiving, 10 ms sending), so a Stop ends
// them within one more wait. Send, receive and connect failures are shown
// with ReportError (a modal box that blocks the worker until dismissed);
// other failures are silent and left to the caller. Lengths and counts are
// 32-bit ints, as Windows' send and recv take them.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <chrono>

#include "core/app_state.h"
#include "core/peer_networks.h"

// Measures how long a connection has gone without progress.
class StallTimer {
 public:
  StallTimer() : lastProgress_(std::chrono::steady_clock::now()) {}
  void Progress() { lastProgress_ = std::chrono::steady_clock::now(); }
  // True once the stall limit (appState.stalledPeerMs, kStalledPeerMs unless
  // a test shortened it) has passed since the last progress.
  bool Stalled() const {
    return std::chrono::steady_clock::now() - lastProgress_ >=
           std::chrono::milliseconds(appState.stalledPeerMs.load());
  }

 private:
  std::chrono::steady_clock::time_point lastProgress_;
};

// Starts Winsock 2.2 unless appState.winsockStarted says it is; false when
// WSAStartup fails (the next call tries again).
bool StartWinsockOnce();

// Non-blocking mode and TCP_NODELAY; false when either cannot be set.
bool ConfigureSocket(SOCKET sock);

// Connects the socket in holder (the Client's connection) to host and the low 16 bits of port,
// blocking until the attempt ends, then configures it. The host is an IPv4
// or IPv6 address or a name for the system resolver; each of its addresses
// is tried in turn until one connects. The socket of the last attempt stays
// in holder whatever the result. Reports "Connect": a failed lookup
// (WSAHOST_NOT_FOUND ...) or the last address's connect error.
bool OpenConnection(SOCKET& holder, const char* host, int port);

// A configured listening socket in holder (the Server's listener), SO_REUSEADDR, bound
// to every address and the low 16 bits of port, backlog 5: IPv6 taking IPv4
// Clients too, or IPv4 alone where the machine has no IPv6. The socket
// stays in holder whatever the result. Reports nothing.
bool OpenListener(SOCKET& holder, int port);

// A configured listening socket in holder, SO_REUSEADDR, bound to the one
// address (an IPv4-mapped one as IPv4) and the low 16 bits of port, backlog
// 5. The socket stays in holder whatever the result. Reports nothing.
bool OpenListenerOn(SOCKET& holder, const PeerAddress& address, int port);

// Shuts the socket down, drains what is readable without waiting, closes it
// and sets the holder to INVALID_SOCKET. Nothing for a holder that has none.
void CloseGracefully(SOCKET& holder);

// Receives into buffer until capacity bytes are in or no data comes for
// 50 ms. True: count (0 .. capacity) bytes are valid. False: stop using the
// connection; count is the bytes of this call after a stop request, 0 after
// the peer's orderly close (bytes that arrived before the close come with
// true first), -1 after a reported error ("ReceiveData"), and
// unchanged when the readiness wait itself failed.
bool ReceiveSome(SOCKET sock, char* buffer, int capacity, int& count);

// Exactly length bytes, in as many ReceiveSome calls as needed. False when
// the connection ends, fails or a stop is requested first, or when no byte
// arrives for the stall limit (then *stalled, if given, is set true); the
// bytes that did arrive are in the buffer from its start. A negative length
// is false.
bool ReceiveExact(SOCKET sock, char* buffer, int length, bool* stalled = nullptr);

// Sends until everything is taken or the socket stays unwritable for 10 ms.
// True with count = the bytes sent (also when it stops for a stop request);
// false after a reported error ("SendData") or a failed readiness wait, with
// count unchanged.
bool SendSome(SOCKET sock, const char* data, int length, int& count);

// Exactly length bytes, in as many SendSome calls as needed. False on an
// error or a stop request first. A negative length is false. When the peer
// takes no byte for the stall limit the stall is reported as "SendData" with
// WSAETIMEDOUT, as a failed send would be, and the result is false.
bool SendAll(SOCKET sock, const char* data, int length);
