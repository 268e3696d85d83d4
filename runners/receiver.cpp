#include "runners/receiver.h"

#include <winsock2.h>

#include <windows.h>

#include <dsound.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "audio/playback_feed.h"
#include "audio/playback_ring.h"
#include "core/app_state.h"
#include "core/byte_buffer.h"
#include "core/error_reporter.h"
#include "core/run_state.h"
#include "core/stream_header.h"
#include "net/listeners.h"
#include "net/peer_gate.h"
#include "net/sockets.h"
#include "res/resource.h"

namespace {

constexpr LONG kAcceptWaitUs = 200000;  // 200 ms between looks at the stop flag
constexpr int kStartCountdown = 2;      // playback starts with the second chunk written

enum class Outcome {
  kNextConnection,  // the connection is over; wait for the next one
  kPlay,            // the stored header is valid; play the connection
  kEndRun,
};

// The playback device in exclusive use, then the listener on targetPort.
bool OpenDeviceAndListener(PlaybackContext& context, LPCGUID deviceId) {
  const HRESULT created = DirectSoundCreate(deviceId, &context.playbackDevice, nullptr);
  if (FAILED(created)) {
    ReportError("DirectSoundCreate", created);
    return false;
  }
  const HRESULT level =
      context.playbackDevice->SetCooperativeLevel(GetDesktopWindow(), DSSCL_EXCLUSIVE);
  if (FAILED(level)) {
    ReportError("SetCooperativeLevel", level);
    return false;
  }
  if (!OpenListeners(context.listeners, CurrentServerPeers().listen, appState.targetPort.load())) {
    MessageBoxA(nullptr, "Cannot open server TCP socket", "Net", MB_ICONERROR);
    return false;
  }
  return true;
}

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// A peer outside the allowed networks is closed before a byte of it is read
// (a reset when it sent some): it never reaches the header, the status line
// or a box.
bool Admitted(PeerGate& gate, const sockaddr_storage& peer, SOCKET& connection) {
  PeerAddress address;
  const bool known = PeerAddressOf(peer, &address);
  if (gate.Admit(address, known, NowMs())) {
    return true;
  }
  closesocket(connection);
  connection = INVALID_SOCKET;
  return false;
}

// Waits for the next connection the gate admits; false when the run is to
// end (a Stop, an accept error, a failed wait). The accepted socket inherits
// the listener's non-blocking mode.
bool AcceptConnection(Listeners& listeners, PeerGate& gate, SOCKET& connection) {
  if (StopRequested()) {
    return false;
  }
  for (;;) {
    sockaddr_storage peer = {};
    int error = 0;
    connection = AcceptFromAny(listeners, &peer, &error);
    if (connection != INVALID_SOCKET) {
      if (!Admitted(gate, peer, connection)) {
        continue;
      }
      return !StopRequested();
    }
    if (error != WSAEWOULDBLOCK) {
      ReportError("Listen for connections", error);
      return false;
    }
    if (WaitForAnyPending(listeners, kAcceptWaitUs) == SOCKET_ERROR) {
      return false;
    }
    SetStatus("Wait for incoming...");
    if (StopRequested()) {
      return false;
    }
  }
}

// Reads the 32 header bytes over the stored header, so that a read that ends
// early replaces only the bytes that arrived. *stalled tells a peer that went
// quiet before its header was complete.
bool ReceiveHeader(SOCKET connection, bool* stalled) {
  HeaderImage image = appState.currentHeader.Image();
  const bool complete =
      ReceiveExact(connection, reinterpret_cast<char*>(image.bytes), kHeaderBytes, stalled);
  appState.currentHeader.Store(image);
  return complete;
}

// Decides from the header whether the connection is played. After a read
// that ended early the stored header decides, which may be an earlier
// connection's; a peer that stalled during its header is dropped, since
// nothing more will come from it.
Outcome CheckHeader(SOCKET& connection) {
  bool stalled = false;
  const bool complete = ReceiveHeader(connection, &stalled);
  if (stalled) {
    CloseGracefully(connection);
    return Outcome::kNextConnection;
  }
  if (complete) {
    if (IsValidHeader(appState.currentHeader.Get())) {
      SetStatus("Got config");
    } else {
      SetStatus("Got junk");
      CloseGracefully(connection);
      return Outcome::kNextConnection;
    }
  }
  if (StopRequested()) {
    return Outcome::kEndRun;
  }
  if (!IsValidHeader(appState.currentHeader.Get())) {
    CloseGracefully(connection);
    return Outcome::kNextConnection;
  }
  return Outcome::kPlay;
}

void ShowReceived(int chunks, int bytes) {
  char text[48];
  std::snprintf(text, sizeof text, "Received %d %d", chunks, bytes);
  SetStatus(text);
}

// The connection is over: after an orderly close (nothing received in the
// last call, no error, no Stop) what is queued and the ring play out first,
// so the end of the stream is heard; otherwise the buffer goes at once.
Outcome EndConnection(PlaybackContext& context, PlaybackFeed& feed, SOCKET& connection,
                      int lastCount) {
  CloseGracefully(connection);
  if (lastCount == 0 && !StopRequested() && feed.Flush(context)) {
    DrainPlaybackRing(context);
  }
  ReleasePlaybackBuffer(context);
  return Outcome::kNextConnection;
}

// Hands what arrives to the feed, which queues it and moves it into the
// playback ring, until the connection ends or stalls (then the buffer is
// released) or a Stop ends the run. Between chunks the feed keeps the ring
// topped up from its queue.
Outcome ReceiveIntoRing(PlaybackContext& context, PlaybackFeed& feed, ByteBuffer& block,
                        SOCKET& connection) {
  int countdown = kStartCountdown;
  int chunks = 0;
  char* data = reinterpret_cast<char*>(block.data());
  StallTimer quiet;
  for (;;) {
    if (StopRequested()) {
      return Outcome::kEndRun;
    }
    int count = 0;
    const bool open = ReceiveSome(connection, data, static_cast<int>(block.size()), count);
    if (!open) {
      return EndConnection(context, feed, connection, count);
    }
    if (count == 0 && quiet.Stalled()) {
      // Silent for as long as no live Client ever is: nothing left to play out.
      CloseGracefully(connection);
      ReleasePlaybackBuffer(context);
      return Outcome::kNextConnection;
    }
    if (count == 0) {
      feed.Pump(context);
      if (!feed.HoldsSound()) {
        SilencePlayedRegion(context, true);  // fades out only what nothing follows
      }
      continue;
    }
    quiet.Progress();
    ShowReceived(chunks, count);
    ++chunks;
    if (countdown > 0) {
      --countdown;
    }
    // A failed write drops what was to go into the ring; the connection
    // goes on.
    feed.Arrive(context, block.data(), count);
    if (feed.Pump(context) && countdown == 0) {
      feed.Start(context);
      countdown = -1;
    }
    feed.FeedUntilNextReceive(context);
    SilencePlayedRegion(context, false);
  }
}

// A format the device refuses came from the network, not from this machine:
// its box is shown, and only that connection is dropped, so that no peer can
// end the Server's run with one header.
Outcome PlayConnection(PlaybackContext& context, ByteBuffer& block, SOCKET& connection) {
  SetStatus("Playback");
  if (FAILED(SetUpPlaybackBuffer(context, context.playbackDevice, &context.playbackBuffer))) {
    CloseGracefully(connection);
    ReleasePlaybackBuffer(context);
    return Outcome::kNextConnection;
  }
  PlaybackFeed feed;
  if (!feed.Begin(appState.currentHeader.Get())) {
    CloseGracefully(connection);
    ReleasePlaybackBuffer(context);
    return Outcome::kNextConnection;
  }
  EnableWindow(GetDlgItem(appState.mainWindow.load(), IDC_CLIENT_INFO), TRUE);
  return ReceiveIntoRing(context, feed, block, connection);
}

// One connection from its header to its end.
Outcome ServeConnection(PlaybackContext& context, ByteBuffer& block, SOCKET& connection) {
  const Outcome header = CheckHeader(connection);
  if (header != Outcome::kPlay) {
    return header;
  }
  return PlayConnection(context, block, connection);
}

void ServeConnections(PlaybackContext& context, ByteBuffer& block, SOCKET& connection) {
  PeerGate gate(CurrentServerPeers().allowed);
  while (AcceptConnection(context.listeners, gate, connection)) {
    if (ServeConnection(context, block, connection) == Outcome::kEndRun) {
      return;
    }
  }
}

}  // namespace

DWORD RunReceiver(PlaybackContext& context, LPCGUID deviceId) {
  RunGuard guard;
  ByteBuffer block(kBlockBytes);
  SetStatus("Running TCP server...");
  if (block.valid() && OpenDeviceAndListener(context, deviceId)) {
    ServeConnections(context, block, context.connectionSocket);
  }
  return 0;
}
