// Each input is one connection to a running Server, as a peer on the network
// could make it: the bytes (header and stream) go over loopback TCP to the
// real worker procedure, which plays into the built-in "Silent output". The
// input ends with an orderly close; the fuzzer waits until the Server has
// closed its end before the next input.
//
// Besides what the sanitizers catch, the Server's run ending because of an
// input is a finding: no connection may end it.
#include <winsock2.h>

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/app_state.h"
#include "platform/win32/host.h"
#include "run/workers.h"
#include "tests/support/loopback_peer.h"

namespace {

namespace peer = twtest::peer;

// A format paced slowly by the device (100 bytes a second at the least) may
// take longer than this to play out; the run is then stopped and restarted,
// which is not a finding.
constexpr int kServedWithinMs = 3000;

// Boxes are answered at once and not printed: a refused format gives one per
// input.
class QuietHost : public twplat::Host {
 public:
  void MessageBoxOpened(const std::shared_ptr<twplat::MessageBoxRecord>& box) override {
    box->Close(IDOK);
  }
};

HANDLE server = nullptr;

bool ServerEnded() { return WaitForSingleObject(server, 0) == WAIT_OBJECT_0; }

void StartServer() {
  appState.targetPort.store(peer::ClosedPort());
  server = CreateThread(nullptr, 0, PlaybackWorker, nullptr, 0, nullptr);
  // Listening once a probe connects; the probe is an empty connection.
  for (int tries = 0; tries < 500; ++tries) {
    const int probe = peer::Connect(appState.targetPort.load());
    if (probe >= 0) {
      peer::Close(probe);
      return;
    }
    Sleep(10);
  }
  std::fprintf(stderr, "the Server did not start listening\n");
  std::abort();
}

void RestartServer() {
  appState.stopRequested.store(1);
  WaitForSingleObject(server, INFINITE);
  CloseHandle(server);
  StartServer();
}

// Reads until the Server closes the connection; false on time-out.
bool WaitForClose(int fd) {
  unsigned char scratch[4096];
  for (;;) {
    const long count = peer::Receive(fd, scratch, sizeof scratch, kServedWithinMs);
    if (count == 0) {
      return true;
    }
    if (count < 0) {
      return false;  // a reset arrives as an error too, but never this late
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TONEWIRE_AUDIO", "builtin", 1);
  static QuietHost host;
  twplat::SetHost(&host);
  WSADATA data;
  WSAStartup(0x0202, &data);
  StartServer();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const int fd = peer::Connect(appState.targetPort.load());
  if (fd < 0) {
    std::fprintf(stderr, "cannot connect to the Server\n");
    std::abort();
  }
  // The Server may close early (junk header) and reset the rest; that ends
  // the input too.
  peer::SendAll(fd, data, size);
  peer::ShutdownSend(fd);
  const bool served = WaitForClose(fd);
  peer::Close(fd);
  if (ServerEnded()) {
    std::fprintf(stderr, "a connection ended the Server's run\n");
    std::abort();
  }
  if (!served) {
    RestartServer();
  }
  return 0;
}
