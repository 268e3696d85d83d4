#include "net/sockets.h"

#include <ws2tcpip.h>

#include "core/app_state.h"
#include "core/error_reporter.h"

#include <cstring>

namespace {

constexpr WORD kWinsockVersion = 0x0202;  // 2.2
constexpr int kListenBacklog = 5;
constexpr LONG kReceiveWaitUs = 50000;  // 50 ms: a pause this long ends a ReceiveSome
constexpr LONG kSendWaitUs = 10000;     // 10 ms: one step of a stalled send
constexpr int kDrainBytes = 128;

// select on one socket for readability or writability; 1 ready, 0 time-out,
// SOCKET_ERROR on failure.
int WaitReady(SOCKET sock, bool forWriting, LONG microseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(sock, &set);
  timeval wait = {0, microseconds};
  return forWriting ? select(0, nullptr, &set, nullptr, &wait)
                    : select(0, &set, nullptr, nullptr, &wait);
}

// The loop under ReceiveExact and SendAll: step(done, count) moves up to
// length - done bytes and says how many; it is repeated until length bytes
// have moved, a step fails, a stop is requested or the stall limit passes
// without a byte (stalled is then set). True when all length bytes moved.
template <typename Step>
bool TransferAll(int length, bool& stalled, Step step) {
  if (length < 0) {
    return false;
  }
  int done = 0;
  StallTimer quiet;
  if (!StopRequested()) {
    while (done < length) {
      int count = 0;
      if (!step(done, count)) {
        break;
      }
      done += count;
      if (StopRequested()) {
        break;
      }
      if (count > 0) {
        quiet.Progress();
      } else if (quiet.Stalled()) {
        stalled = true;
        break;
      }
    }
  }
  return done == length;
}

// The resolver's addresses for the host text, released with the holder.
class AddressList {
 public:
  AddressList() = default;
  ~AddressList() { freeaddrinfo(first_); }
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;

  // 0, or the Winsock code of the failed lookup. A numeric IPv4 or IPv6
  // address is taken as it is; a name goes to the system resolver.
  int Resolve(const char* host) {
    ADDRINFOA hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    return getaddrinfo(host, nullptr, &hints, &first_);
  }
  const ADDRINFOA* First() const { return first_; }

 private:
  PADDRINFOA first_ = nullptr;
};

// A resolved address with the port set; the port field lies at the same
// offset in IPv4 and IPv6 addresses.
sockaddr_storage WithPort(const ADDRINFOA& entry, int port) {
  sockaddr_storage address = {};
  std::memcpy(&address, entry.ai_addr, entry.ai_addrlen);
  sockaddr_in* ipv4 = reinterpret_cast<sockaddr_in*>(&address);
  ipv4->sin_port = htons(static_cast<u_short>(port));  // only the low 16 bits count
  return address;
}

// Opens a socket for the entry's family into the holder (closing the one of
// an earlier attempt) and connects it while still blocking. 0 connected,
// the Winsock code of a failed connect, or SOCKET_ERROR when no socket of
// that family could be made.
int TryConnect(SOCKET& holder, const ADDRINFOA& entry, int port) {
  CloseGracefully(holder);
  holder = socket(entry.ai_family, SOCK_STREAM, 0);
  if (holder == INVALID_SOCKET) {
    return SOCKET_ERROR;
  }
  sockaddr_storage address = WithPort(entry, port);
  if (connect(holder, reinterpret_cast<const sockaddr*>(&address),
              static_cast<int>(entry.ai_addrlen)) == SOCKET_ERROR) {
    return WSAGetLastError();
  }
  return 0;
}

// The unspecified address of the family (:: or 0.0.0.0), or the given one,
// with the port.
sockaddr_storage ListenAddress(bool ipv6, const PeerAddress* given, int port, int* length) {
  sockaddr_storage address = {};
  if (ipv6) {
    sockaddr_in6* ip = reinterpret_cast<sockaddr_in6*>(&address);
    ip->sin6_family = AF_INET6;  // zero-filled: ::
    ip->sin6_port = htons(static_cast<u_short>(port));
    if (given != nullptr) {
      std::memcpy(ip->sin6_addr.s6_addr, given->bytes.data(), given->bytes.size());
    }
    *length = sizeof(sockaddr_in6);
  } else {
    sockaddr_in* ip = reinterpret_cast<sockaddr_in*>(&address);
    ip->sin_family = AF_INET;
    ip->sin_port = htons(static_cast<u_short>(port));
    ip->sin_addr.s_addr = INADDR_ANY;
    if (given != nullptr) {
      std::memcpy(&ip->sin_addr.s_addr, given->bytes.data() + 12, 4);  // already network order
    }
    *length = sizeof(sockaddr_in);
  }
  return address;
}

// A listener of one family, configured, bound and listening, in the holder,
// on every address of the family or on the given one. An IPv6 listener on
// every address takes IPv4 Clients too (as IPv4-mapped addresses); one on a
// given address takes only its own.
bool ListenOn(SOCKET& holder, bool ipv6, const PeerAddress* given, int port) {
  holder = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (holder == INVALID_SOCKET || !ConfigureSocket(holder)) {
    return false;
  }
  int reuse = 1;
  int ipv6Only = given != nullptr ? 1 : 0;
  if (setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                 sizeof reuse) == SOCKET_ERROR ||
      (ipv6 &&
       setsockopt(holder, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&ipv6Only),
                  sizeof ipv6Only) == SOCKET_ERROR)) {
    return false;
  }
  int length = 0;
  const sockaddr_storage address = ListenAddress(ipv6, given, port, &length);
  return bind(holder, reinterpret_cast<const sockaddr*>(&address), length) != SOCKET_ERROR &&
         listen(holder, kListenBacklog) != SOCKET_ERROR;
}

// A machine without IPv6 refuses the IPv6 socket, or (IPv6 switched off)
// the bind to ::.
bool Ipv6Absent(int code) { return code == WSAEAFNOSUPPORT || code == WSAEADDRNOTAVAIL; }

}  // namespace

bool StartWinsockOnce() {
  if (appState.winsockStarted.load() != 0) {
    return true;
  }
  WSADATA data;
  if (WSAStartup(kWinsockVersion, &data) != 0) {
    return false;
  }
  appState.winsockStarted.store(1);
  return true;
}

bool ConfigureSocket(SOCKET sock) {
  u_long nonBlocking = 1;
  if (ioctlsocket(sock, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
    return false;
  }
  int noDelay = 1;
  if (setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay) == SOCKET_ERROR) {
    return false;
  }
  return true;
}

bool OpenConnection(SOCKET& holder, const char* host, int port) {
  AddressList addresses;
  const int lookup = addresses.Resolve(host);
  if (lookup != 0) {
    ReportError("Connect", lookup);  // e.g. 11001: the name is not known
    return false;
  }
  // Each address in the resolver's order; the last failure is the one shown.
  int failure = SOCKET_ERROR;
  for (const ADDRINFOA* entry = addresses.First(); entry != nullptr; entry = entry->ai_next) {
    const int result = TryConnect(holder, *entry, port);
    if (result == 0) {
      return ConfigureSocket(holder);
    }
    if (result != SOCKET_ERROR) {
      failure = result;
    }
  }
  if (failure != SOCKET_ERROR) {
    ReportError("Connect", failure);
  }
  return false;
}

bool OpenListener(SOCKET& holder, int port) {
  if (ListenOn(holder, true, nullptr, port)) {
    return true;
  }
  if (!Ipv6Absent(WSAGetLastError())) {
    return false;
  }
  CloseGracefully(holder);
  return ListenOn(holder, false, nullptr, port);
}

bool OpenListenerOn(SOCKET& holder, const PeerAddress& address, int port) {
  return ListenOn(holder, !address.IsIpv4(), &address, port);
}

void CloseGracefully(SOCKET& holder) {
  if (holder == INVALID_SOCKET) {
    return;
  }
  shutdown(holder, SD_BOTH);
  // Reads what has already arrived so that the close is not a reset; on a
  // non-blocking socket the first would-block result ends it at once.
  char scratch[kDrainBytes];
  while (recv(holder, scratch, sizeof scratch, 0) > 0) {
  }
  closesocket(holder);
  holder = INVALID_SOCKET;
}

bool ReceiveSome(SOCKET sock, char* buffer, int capacity, int& count) {
  int received = 0;
  int wanted = capacity;
  if (!StopRequested()) {
    while (wanted > 0) {
      int got = recv(sock, buffer + received, wanted, 0);
      if (got == 0) {
        // The peer closed. Bytes that came before the close are handed out
        // first; the close shows again at the next call.
        count = received;
        return received > 0 && !StopRequested();
      }
      if (got > 0) {
        received += got;
        wanted -= got;
        if (StopRequested()) {
          break;
        }
        continue;
      }
      int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK) {
        ReportError("ReceiveData", code);
        count = -1;
        return false;
      }
      int ready = WaitReady(sock, false, kReceiveWaitUs);
      if (ready == SOCKET_ERROR) {
        return false;
      }
      if (ready == 0) {
        count = received;
        return !StopRequested();
      }
      if (StopRequested()) {
        break;
      }
    }
  }
  count = received;
  return !StopRequested();
}

bool ReceiveExact(SOCKET sock, char* buffer, int length, bool* stalled) {
  bool quiet = false;
  const bool received = TransferAll(length, quiet, [&](int done, int& count) {
    return ReceiveSome(sock, buffer + done, length - done, count);
  });
  if (quiet && stalled != nullptr) {
    *stalled = true;
  }
  return received;
}

bool SendSome(SOCKET sock, const char* data, int length, int& count) {
  int sent = 0;
  int remaining = length;
  if (!StopRequested()) {
    while (remaining > 0) {
      int put = send(sock, data + sent, remaining, 0);
      if (put != SOCKET_ERROR) {
        sent += put;
        remaining -= put;
        if (StopRequested()) {
          break;
        }
        continue;
      }
      int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK) {
        ReportError("SendData", code);
        return false;
      }
      int ready = WaitReady(sock, true, kSendWaitUs);
      if (ready == SOCKET_ERROR) {
        return false;
      }
      if (ready == 0) {
        break;  // unwritable for 10 ms: report what went out so far
      }
      if (StopRequested()) {
        break;
      }
    }
  }
  count = sent;
  return true;
}

bool SendAll(SOCKET sock, const char* data, int length) {
  bool stuck = false;
  const bool sent = TransferAll(length, stuck, [&](int done, int& count) {
    return SendSome(sock, data + done, length - done, count);
  });
  if (stuck) {
    ReportError("SendData", WSAETIMEDOUT);
  }
  return sent;
}
