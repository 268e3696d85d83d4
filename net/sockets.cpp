#include "net/sockets.h"

#include "audio/capture_context.h"
#include "audio/playback_context.h"
#include "run/app_state.h"
#include "run/error_reporter.h"

namespace {

constexpr WORD kWinsockVersion = 0x0202;  // 2.2
constexpr int kListenBacklog = 5;
constexpr LONG kReceiveWaitUs = 50000;  // 50 ms: a pause this long ends a ReceiveSome
constexpr LONG kSendWaitUs = 10000;     // 10 ms: one step of a stalled send
constexpr int kDrainBytes = 128;

bool StopRequested() { return appState.stopRequested.load() != 0; }

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

sockaddr_in Ipv4Address(u_long address, int port) {
  sockaddr_in result = {};
  result.sin_family = AF_INET;
  result.sin_port = htons(static_cast<u_short>(port));  // only the low 16 bits count
  result.sin_addr.s_addr = address;
  return result;
}

}  // namespace

bool StartWinsockOnce() {
  if (appState.winsockStarted.load() != 0) {
    appState.winsockStarted.store(1);
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

bool OpenConnection(CaptureContext& context, const char* host, int port) {
  SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
  context.connectionSocket = sock;
  if (sock == INVALID_SOCKET) {
    return false;
  }
  // No name lookup: a text inet_addr refuses gives INADDR_NONE, and the
  // connect goes to 255.255.255.255.
  sockaddr_in address = Ipv4Address(inet_addr(host), port);
  if (connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    ReportError("Connect", WSAGetLastError());
    return false;
  }
  return ConfigureSocket(sock);
}

bool OpenListener(PlaybackContext& context, int port) {
  SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
  context.listenSocket = sock;
  if (sock == INVALID_SOCKET) {
    return false;
  }
  if (!ConfigureSocket(sock)) {
    return false;
  }
  int reuse = 1;
  if (setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                 sizeof reuse) == SOCKET_ERROR) {
    return false;
  }
  sockaddr_in address = Ipv4Address(INADDR_ANY, port);
  if (bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    return false;
  }
  return listen(sock, kListenBacklog) != SOCKET_ERROR;
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
  if (length < 0) {
    return false;
  }
  DWORD received = 0;
  StallTimer quiet;
  if (!StopRequested()) {
    while (received < static_cast<DWORD>(length)) {
      int count = 0;
      if (!ReceiveSome(sock, buffer + received, length - static_cast<int>(received), count)) {
        break;
      }
      received += static_cast<DWORD>(count);
      if (StopRequested()) {
        break;
      }
      if (count > 0) {
        quiet.Progress();
      } else if (quiet.Stalled()) {
        if (stalled != nullptr) {
          *stalled = true;
        }
        break;
      }
    }
  }
  return received == static_cast<DWORD>(length);
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
  if (length < 0) {
    return false;
  }
  DWORD sent = 0;
  StallTimer stuck;
  if (!StopRequested()) {
    while (sent < static_cast<DWORD>(length)) {
      int count = 0;
      if (!SendSome(sock, data + sent, length - static_cast<int>(sent), count)) {
        break;
      }
      sent += static_cast<DWORD>(count);
      if (StopRequested()) {
        break;
      }
      if (count > 0) {
        stuck.Progress();
      } else if (stuck.Stalled()) {
        ReportError("SendData", WSAETIMEDOUT);
        break;
      }
    }
  }
  return sent == static_cast<DWORD>(length);
}
