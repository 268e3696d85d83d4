// The Server's listening sockets: one on every address (IPv6 taking IPv4
// Clients too), or one per address the user named. Accepts from whichever
// has a connection waiting.
//
// Thread contract: the worker only.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <vector>

#include "core/peer_networks.h"

// Closes its sockets on destruction.
struct Listeners {
  Listeners();
  ~Listeners();
  Listeners(const Listeners&) = delete;
  Listeners& operator=(const Listeners&) = delete;

  SOCKET sockets[kMostListenAddresses];
};

// Opens one listener on every address when addresses is empty, otherwise
// one on each, all on the low 16 bits of port. False when any of them cannot
// be opened (the ones that were stay in listeners). Reports nothing.
bool OpenListeners(Listeners& listeners, const std::vector<PeerAddress>& addresses, int port);

// A waiting connection from any listener, with its peer's address, or
// INVALID_SOCKET with *error: WSAEWOULDBLOCK when none is waiting, else the
// first listener's failure.
SOCKET AcceptFromAny(Listeners& listeners, sockaddr_storage* peer, int* error);

// Waits until a listener has a connection waiting: 1, 0 after the time-out,
// SOCKET_ERROR when the wait fails.
int WaitForAnyPending(const Listeners& listeners, LONG microseconds);

// The peer's address; false for a family other than IPv4 and IPv6.
bool PeerAddressOf(const sockaddr_storage& peer, PeerAddress* address);
