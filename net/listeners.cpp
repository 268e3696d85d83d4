#include "net/listeners.h"

#include <ws2tcpip.h>

#include <cstring>

#include "net/sockets.h"

Listeners::Listeners() {
  for (SOCKET& sock : sockets) {
    sock = INVALID_SOCKET;
  }
}

Listeners::~Listeners() {
  for (SOCKET& sock : sockets) {
    CloseGracefully(sock);
  }
}

bool OpenListeners(Listeners& listeners, const std::vector<PeerAddress>& addresses, int port) {
  if (addresses.empty()) {
    return OpenListener(listeners.sockets[0], port);
  }
  if (addresses.size() > kMostListenAddresses) {
    return false;
  }
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (!OpenListenerOn(listeners.sockets[i], addresses[i], port)) {
      return false;
    }
  }
  return true;
}

SOCKET AcceptFromAny(Listeners& listeners, sockaddr_storage* peer, int* error) {
  *error = WSAEWOULDBLOCK;
  for (SOCKET listener : listeners.sockets) {
    if (listener == INVALID_SOCKET) {
      continue;
    }
    *peer = {};
    int peerBytes = sizeof *peer;  // an IPv6 Client's address is 28 bytes
    const SOCKET connection = accept(listener, reinterpret_cast<sockaddr*>(peer), &peerBytes);
    if (connection != INVALID_SOCKET) {
      return connection;
    }
    const int failure = WSAGetLastError();
    if (failure != WSAEWOULDBLOCK) {
      *error = failure;
      return INVALID_SOCKET;
    }
  }
  return INVALID_SOCKET;
}

int WaitForAnyPending(const Listeners& listeners, LONG microseconds) {
  fd_set readable;
  FD_ZERO(&readable);
  for (SOCKET listener : listeners.sockets) {
    if (listener != INVALID_SOCKET) {
      FD_SET(listener, &readable);
    }
  }
  timeval wait = {0, microseconds};
  return select(0, &readable, nullptr, nullptr, &wait);
}

bool PeerAddressOf(const sockaddr_storage& peer, PeerAddress* address) {
  *address = PeerAddress{};
  if (peer.ss_family == AF_INET) {
    const sockaddr_in* ip = reinterpret_cast<const sockaddr_in*>(&peer);
    address->bytes[10] = 0xFF;
    address->bytes[11] = 0xFF;
    std::memcpy(address->bytes.data() + 12, &ip->sin_addr.s_addr, 4);
    return true;
  }
  if (peer.ss_family == AF_INET6) {
    const sockaddr_in6* ip = reinterpret_cast<const sockaddr_in6*>(&peer);
    std::memcpy(address->bytes.data(), ip->sin6_addr.s6_addr, address->bytes.size());
    return true;
  }
  return false;
}
