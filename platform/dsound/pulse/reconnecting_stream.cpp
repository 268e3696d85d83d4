#include "platform/dsound/pulse/reconnecting_stream.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/dsound/builtin/builtin_streams.h"
#include "platform/dsound/pulse/pulse_devices.h"
#include "platform/dsound/pulse/pulse_stream.h"
#include "platform/dsound/pulse/server_presence.h"

namespace twplat::sound {
namespace {

// How often a server that is away is asked for again. A refused connection
// to a local socket costs well under a millisecond.
constexpr std::chrono::milliseconds kRetryStep{250};

bool DeviceListed(const DeviceChoice& device) {
  PulseDeviceList list;
  if (!ListPulseDevices(device.direction, &list)) {
    return true;  // unknown: the stream itself will tell
  }
  for (const PulseDevice& listed : list.devices) {
    if (listed.name == device.name) {
      return true;
    }
  }
  return false;
}

// The one thread of a stream that watches the server stream (none at first
// when the server was away at the start), stands in for it while the server
// is away and reconnects. The stream being replaced is
// always destroyed before the next one starts, so one device side at a time
// moves the ring.
class ReconnectingStream final : public DeviceStream {
 public:
  ReconnectingStream(const DeviceChoice& device, SoundRing& ring) : device_(device), ring_(ring) {}

  // The first server stream (none when the server was away at the start);
  // the watcher starts with it.
  HRESULT Start(bool startAway) {
    HRESULT result = DS_OK;
    server_ = OpenPulseStream(device_, ring_, &result, ServerFailed());
    if (server_ == nullptr && !(startAway && result == DSERR_BUFFERLOST)) {
      return result;
    }
    if (server_ != nullptr) {
      NoteServerBack();
    }
    watcher_ = std::thread([this] { Watch(); });
    return DS_OK;
  }

  ~ReconnectingStream() override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) {
      watcher_.join();
    }
    server_.reset();  // its failure call reaches mutex_ and wake_: it goes first
    standIn_.reset();
  }

  // The buffer never sees the server's loss.
  bool Failed() const override { return false; }

 private:
  void Watch();
  bool CoverOutage();
  bool Reconnect();
  // What a server stream calls, on the server's thread, when it fails.
  std::function<void()> ServerFailed();
  // Sleeps until the server stream failed; true when the stream is being
  // destroyed first.
  bool QuitBeforeFailure();
  // Sleeps for step; true when the stream is being destroyed.
  bool Quit(std::chrono::milliseconds step);

  const DeviceChoice device_;
  SoundRing& ring_;
  std::unique_ptr<DeviceStream> server_;   // watcher thread only
  std::unique_ptr<DeviceStream> standIn_;  // watcher thread only
  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  bool serverFailed_ = false;
  std::thread watcher_;
};

// Sleeps until the server stream fails: a stream that runs costs no
// wake-ups here.
void ReconnectingStream::Watch() {
  while (server_ == nullptr || !QuitBeforeFailure()) {
    if (!CoverOutage()) {
      return;
    }
  }
}

// From the loss of the server stream until a new one runs; false when the
// stream is destroyed first.
bool ReconnectingStream::CoverOutage() {
  server_.reset();
  standIn_ = OpenStandInStream(device_.direction, ring_);
  NoteServerAway(device_.direction == Direction::kCapture);
  while (!Quit(kRetryStep)) {
    if (PulseReachable() && Reconnect()) {
      return true;
    }
  }
  return false;
}

// The stand-in stops before the new stream can touch the ring, and starts
// again if no stream could be made.
bool ReconnectingStream::Reconnect() {
  DeviceChoice device = device_;
  if (!device.name.empty() && !DeviceListed(device)) {
    device.name.clear();  // the server's default device
  }
  standIn_.reset();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    serverFailed_ = false;
  }
  HRESULT result = DS_OK;
  server_ = OpenPulseStream(device, ring_, &result, ServerFailed());
  if (server_ == nullptr) {
    standIn_ = OpenStandInStream(device_.direction, ring_);
    return false;
  }
  NoteServerBack();
  return true;
}

std::function<void()> ReconnectingStream::ServerFailed() {
  return [this] {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      serverFailed_ = true;
    }
    wake_.notify_all();
  };
}

bool ReconnectingStream::QuitBeforeFailure() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return quit_ || serverFailed_; });
  return quit_;
}

bool ReconnectingStream::Quit(std::chrono::milliseconds step) {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_for(lock, step, [this] { return quit_; });
}

}  // namespace

std::unique_ptr<DeviceStream> OpenReconnectingStream(const DeviceChoice& device, SoundRing& ring,
                                                     bool startAway, HRESULT* result) {
  auto stream = std::make_unique<ReconnectingStream>(device, ring);
  *result = stream->Start(startAway);
  return *result == DS_OK ? std::move(stream) : nullptr;
}

}  // namespace twplat::sound
