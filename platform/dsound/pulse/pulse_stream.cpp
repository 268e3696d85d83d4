#include "platform/dsound/pulse/pulse_stream.h"

#include <pulse/rtclock.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>

#include "platform/dsound/capture_pacer.h"
#include "platform/dsound/pulse/ordering_point.h"
#include "platform/dsound/pulse/pulse_connection.h"
#include "platform/dsound/stretched_reader.h"
#include "platform/env/environment.h"

namespace twplat::sound {
namespace {

// Device latency is set here, never left to the server, whose defaults can
// reach two seconds. Playback: a 40 ms queue refilled in 10 ms requests;
// capture: 25 ms fragments. Every millisecond of the playback queue is
// latency (the deeper start a short queue leaves is brought down to the
// target by the playback controller in the first half minute). The sound
// server splits the queue into the sink's own latency and the stream's
// buffer, with two requests between them: 40 ms in 25 ms requests left the
// sink nothing, and a null sink then ran in half-millisecond periods and
// 1800 ppm fast; 10 ms requests leave it 10 ms periods of whole frames. A
// stream's request or fragment size becomes the sound server's processing
// period when it is the smallest one asked for: with 10 ms for both (as
// first chosen) PipeWire ran its whole graph in 5 ms steps, and on this
// 2-core machine the tone player feeding the test source then underran
// about once a second. Capture keeps 25 ms fragments; the end-to-end test
// through PipeWire plays cleanly with the 10 ms requests. An underrun only costs a click, since
// the stream does not prebuffer again. The figures are the defaults of
// platform/env's table; the environment may set others, for measuring what
// a machine needs.
pa_usec_t BufferingUs(const env::WholeNumber& variable) {
  return static_cast<pa_usec_t>(env::Read(variable)) * 1000;
}
// While a burst waits in the capture pacer, it is let into the ring in steps
// this far apart.
constexpr pa_usec_t kPaceStepUs = 10000;
// The pacer's queue is never larger than the largest ring a buffer may have.
constexpr DWORD kMaxStagingBytes = 16u << 20;

pa_sample_format_t SampleFormat(WORD bitsPerSample) {
  switch (bitsPerSample) {
    case 8:
      return PA_SAMPLE_U8;
    case 16:
      return PA_SAMPLE_S16LE;
    case 24:
      return PA_SAMPLE_S24LE;
    case 32:
      return PA_SAMPLE_S32LE;
    default:
      return PA_SAMPLE_INVALID;
  }
}

class PulseStream final : public DeviceStream {
 public:
  PulseStream(Direction direction, SoundRing& ring, std::function<void()> onFailure)
      : direction_(direction),
        ring_(ring),
        onFailure_(std::move(onFailure)),
        stretching_(direction == Direction::kPlayback && ring.frequencyControl()) {}

  ~PulseStream() override {
    if (stream_ != nullptr) {
      pa_threaded_mainloop_lock(mainloop_);
      Detach();
      pa_threaded_mainloop_unlock(mainloop_);
    }
    OrderingPoint::Mark();
  }

  bool Failed() const override { return failed_.load(std::memory_order_acquire); }

  HRESULT Connect(PulseSession& session, const char* deviceName);

 private:
  HRESULT Create(PulseSession& session);
  bool Attach(const char* deviceName, const pa_sample_spec& spec);
  bool WaitReady(PulseSession& session);
  bool StartPacing(PulseSession& session);
  void Pace();
  void Detach();
  void Play(BYTE* out, size_t bytes);
  // Whole frames, at least one and at most the ring's.
  uint32_t RingBounded(size_t bytes) const;

  static void OnState(pa_stream* stream, void* self);
  static void OnWrite(pa_stream* stream, size_t bytes, void* self);
  static void OnRead(pa_stream* stream, size_t bytes, void* self);
  static void OnPaceStep(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                         void* self);

  const Direction direction_;
  SoundRing& ring_;
  const std::function<void()> onFailure_;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_stream* stream_ = nullptr;
  pa_context* context_ = nullptr;
  CapturePacer pacer_;
  pa_time_event* paceStep_ = nullptr;
  std::atomic<bool> failed_{false};
  // Main loop thread only, once the stream runs.
  const bool stretching_;  // the buffer's frequency control, through reader_
  StretchedReader reader_;
};

HRESULT PulseStream::Connect(PulseSession& session, const char* deviceName) {
  mainloop_ = session.mainloop();
  const WAVEFORMATEX& format = ring_.format();
  const pa_sample_spec spec{SampleFormat(format.wBitsPerSample), format.nSamplesPerSec,
                            static_cast<uint8_t>(format.nChannels)};
  if (!pa_sample_spec_valid(&spec)) {
    return DSERR_BADFORMAT;
  }
  pa_channel_map map;
  // The channel order of multichannel PCM on the wire is the Windows one.
  const pa_channel_map* order =
      pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX);
  const char* name = direction_ == Direction::kPlayback ? "Playback" : "Capture";
  stream_ = pa_stream_new(session.context(), name, &spec, order);
  if (stream_ == nullptr) {
    return pa_context_errno(session.context()) == PA_ERR_INVALID ? DSERR_BADFORMAT
                                                                 : DSERR_BUFFERLOST;
  }
  OrderingPoint::Mark();
  pa_stream_set_state_callback(stream_, OnState, this);
  if (direction_ == Direction::kCapture && !StartPacing(session)) {
    return DSERR_OUTOFMEMORY;
  }
  if (stretching_ && !reader_.Allocate(format)) {
    return DSERR_OUTOFMEMORY;
  }
  if (!Attach(deviceName, spec) || !WaitReady(session)) {
    return DSERR_BUFFERLOST;
  }
  return DS_OK;
}

bool PulseStream::Attach(const char* deviceName, const pa_sample_spec& spec) {
  pa_buffer_attr attributes;
  attributes.maxlength = static_cast<uint32_t>(-1);
  attributes.prebuf = static_cast<uint32_t>(-1);
  attributes.minreq = static_cast<uint32_t>(-1);
  attributes.tlength = static_cast<uint32_t>(-1);
  attributes.fragsize = static_cast<uint32_t>(-1);
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
  if (direction_ == Direction::kPlayback) {
    // The server's queue is sound the play cursor has passed: longer than
    // the ring, it would take bytes the program has not written yet.
    attributes.tlength = RingBounded(pa_usec_to_bytes(BufferingUs(env::kPlaybackQueueMs), &spec));
    attributes.minreq =
        std::min(attributes.tlength,
                 RingBounded(pa_usec_to_bytes(BufferingUs(env::kPlaybackRequestMs), &spec)));
    // No prebuffering: after an underrun the server goes on at the device's
    // pace and skips what came late, as a sound card's play cursor does,
    // instead of waiting for a full queue again (which adds the length of
    // every underrun to the delay for good).
    attributes.prebuf = 0;
    pa_stream_set_write_callback(stream_, OnWrite, this);
    return pa_stream_connect_playback(stream_, deviceName, &attributes, flags, nullptr, nullptr) ==
           0;
  }
  attributes.fragsize = RingBounded(pa_usec_to_bytes(BufferingUs(env::kCaptureFragmentMs), &spec));
  pa_stream_set_read_callback(stream_, OnRead, this);
  return pa_stream_connect_record(stream_, deviceName, &attributes, flags) == 0;
}

bool PulseStream::WaitReady(PulseSession& session) {
  pa_stream* stream = stream_;
  session.Wait(
      [stream] {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
      },
      kPulseTimeoutMs);
  return pa_stream_get_state(stream_) == PA_STREAM_READY;
}

// The pacer's queue and its step timer, made before the stream can deliver;
// the timer stays disabled while nothing waits.
bool PulseStream::StartPacing(PulseSession& session) {
  if (!pacer_.Allocate(ring_.format(), kMaxStagingBytes)) {
    return false;
  }
  context_ = session.context();
  paceStep_ = pa_context_rttime_new(context_, pa_rtclock_now() + kPaceStepUs, OnPaceStep, this);
  if (paceStep_ == nullptr) {
    return false;
  }
  pa_threaded_mainloop_get_api(mainloop_)->time_restart(paceStep_, nullptr);
  return true;
}

// On the main loop thread: lets in what is due and, while a backlog waits,
// comes back one step later.
void PulseStream::Pace() {
  if (pacer_.Release(ring_, pa_rtclock_now()) > 0) {
    pa_context_rttime_restart(context_, paceStep_, pa_rtclock_now() + kPaceStepUs);
  }
}

// With the main loop locked: once the callbacks are cleared no callback of
// this stream runs again.
void PulseStream::Detach() {
  OrderingPoint::Mark();  // after the last callback, which may have read paceStep_
  if (paceStep_ != nullptr) {
    pa_threaded_mainloop_get_api(mainloop_)->time_free(paceStep_);
    paceStep_ = nullptr;
  }
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_write_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

void PulseStream::OnState(pa_stream* stream, void* self) {
  auto* owner = static_cast<PulseStream*>(self);
  const CallbackScope scope;
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) &&
      !owner->failed_.exchange(true, std::memory_order_acq_rel) && owner->onFailure_) {
    owner->onFailure_();
  }
  pa_threaded_mainloop_signal(owner->mainloop_, 0);
}

// Fills the server's buffers straight from the ring, whole frames at a time.
void PulseStream::OnWrite(pa_stream* stream, size_t bytes, void* self) {
  auto* owner = static_cast<PulseStream*>(self);
  const CallbackScope scope;
  const size_t frameBytes = owner->ring_.format().nBlockAlign;
  while (bytes >= frameBytes) {
    void* data = nullptr;
    size_t granted = bytes;
    if (pa_stream_begin_write(stream, &data, &granted) < 0 || data == nullptr) {
      return;
    }
    // At most a ring at a time, so that one copy never reads past it.
    granted = std::min<size_t>(granted, owner->ring_.size());
    granted -= granted % frameBytes;
    if (granted == 0) {
      pa_stream_cancel_write(stream);
      return;
    }
    owner->Play(static_cast<BYTE*>(data), granted);
    pa_stream_write(stream, data, granted, nullptr, 0, PA_SEEK_RELATIVE);
    bytes = granted < bytes ? bytes - granted : 0;
  }
}

uint32_t PulseStream::RingBounded(size_t bytes) const {
  const size_t frameBytes = ring_.format().nBlockAlign;
  const size_t bounded = std::clamp<size_t>(bytes, frameBytes, ring_.size());
  return static_cast<uint32_t>(bounded - bounded % frameBytes);
}

// Whole frames from the ring: a plain copy, or at the buffer's frequency
// as the program last set it.
void PulseStream::Play(BYTE* out, size_t bytes) {
  if (!stretching_) {
    ring_.Render(out, static_cast<DWORD>(bytes));
    return;
  }
  const auto frames = static_cast<DWORD>(bytes / ring_.format().nBlockAlign);
  reader_.Fill(ring_, out, frames, ring_.FrequencyRatio());
}

void PulseStream::OnRead(pa_stream* stream, size_t, void* self) {
  auto* owner = static_cast<PulseStream*>(self);
  const CallbackScope scope;
  const void* data = nullptr;
  size_t bytes = 0;
  while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0) {
    if (bytes == 0) {
      return;
    }
    // A hole in the recording (data null) becomes silence.
    owner->pacer_.Push(static_cast<const BYTE*>(data), static_cast<DWORD>(bytes));
    pa_stream_drop(stream);
  }
  owner->Pace();
}

void PulseStream::OnPaceStep(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
  auto* owner = static_cast<PulseStream*>(self);
  const CallbackScope scope;
  owner->Pace();
}

}  // namespace

std::unique_ptr<DeviceStream> OpenPulseStream(const DeviceChoice& device, SoundRing& ring,
                                              HRESULT* result, std::function<void()> onFailure) {
  auto stream = std::make_unique<PulseStream>(device.direction, ring, std::move(onFailure));
  PulseSession session;
  if (!session.connected()) {
    *result = DSERR_BUFFERLOST;
    return nullptr;
  }
  *result = stream->Connect(session, device.name.empty() ? nullptr : device.name.c_str());
  if (*result != DS_OK) {
    return nullptr;
  }
  return stream;
}

}  // namespace twplat::sound
