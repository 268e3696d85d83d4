#include "platform/dsound/pulse/pulse_connection.h"

namespace twplat::sound {
namespace {

void SignalMainloop(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* mainloop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
}

}  // namespace

PulseConnection& PulseConnection::Get() {
  static PulseConnection connection;
  return connection;
}

PulseConnection::~PulseConnection() {
  if (mainloop_ == nullptr) {
    return;
  }
  pa_threaded_mainloop_stop(mainloop_);
  DropContext();
  pa_threaded_mainloop_free(mainloop_);
}

bool PulseConnection::EnsureMainloop() {
  if (mainloop_ != nullptr) {
    return true;
  }
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ == nullptr) {
    return false;
  }
  if (pa_threaded_mainloop_start(mainloop_) < 0) {
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
    return false;
  }
  return true;
}

// Called with the main loop locked.
bool PulseConnection::EnsureContext(PulseSession& session) {
  if (context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY) {
    return true;
  }
  DropContext();
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Tonewire");
  if (context_ == nullptr) {
    return false;
  }
  pa_context_set_state_callback(context_, OnContextState, mainloop_);
  // Never start a server of our own: with none running, the built-in devices serve.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return false;
  }
  pa_context* context = context_;
  session.Wait(
      [context] {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
      },
      kPulseTimeoutMs);
  return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

// Streams made on the old context keep it alive until they are destroyed;
// they have failed with it.
void PulseConnection::DropContext() {
  if (context_ == nullptr) {
    return;
  }
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

void PulseConnection::OnContextState(pa_context*, void* mainloop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
}

PulseSession::PulseSession() : connection_(PulseConnection::Get()), control_(connection_.control_) {
  if (!connection_.EnsureMainloop()) {
    return;
  }
  pa_threaded_mainloop_lock(connection_.mainloop_);
  connected_ = connection_.EnsureContext(*this);
}

PulseSession::~PulseSession() {
  if (connection_.mainloop_ != nullptr) {
    pa_threaded_mainloop_unlock(connection_.mainloop_);
  }
}

pa_context* PulseSession::context() const { return connection_.context_; }

pa_threaded_mainloop* PulseSession::mainloop() const { return connection_.mainloop_; }

bool PulseSession::Wait(const std::function<bool()>& done, int timeoutMs) {
  if (done()) {
    return true;
  }
  pa_threaded_mainloop* mainloop = connection_.mainloop_;
  const pa_usec_t deadline = pa_rtclock_now() + static_cast<pa_usec_t>(timeoutMs) * 1000;
  pa_time_event* timer = pa_context_rttime_new(context(), deadline, SignalMainloop, mainloop);
  if (timer == nullptr) {
    return false;
  }
  while (!done() && pa_rtclock_now() < deadline) {
    pa_threaded_mainloop_wait(mainloop);
  }
  pa_threaded_mainloop_get_api(mainloop)->time_free(timer);
  return done();
}

}  // namespace twplat::sound
