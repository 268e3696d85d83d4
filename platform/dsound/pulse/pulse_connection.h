// The process's one connection to the sound server: a threaded main loop and
// a context, made on first use and made again after the server was lost.
#pragma once

#include <pulse/pulseaudio.h>

#include <functional>
#include <mutex>

namespace twplat::sound {

// Connecting, listing devices and starting a stream each wait at most this
// long for the server before giving up.
inline constexpr int kPulseTimeoutMs = 3000;

class PulseConnection;

// Exclusive use of the connection from a control thread: holds the control
// lock and the main loop lock for its lifetime, and connects (or reconnects
// after a lost server) on entry. Never used from a callback.
class PulseSession {
 public:
  PulseSession();
  ~PulseSession();
  PulseSession(const PulseSession&) = delete;
  PulseSession& operator=(const PulseSession&) = delete;

  bool connected() const { return connected_; }
  pa_context* context() const;
  pa_threaded_mainloop* mainloop() const;
  // Waits, with the main loop unlocked meanwhile, until done() holds (it is
  // checked with the lock held) or timeoutMs passes; returns done().
  bool Wait(const std::function<bool()>& done, int timeoutMs);

 private:
  PulseConnection& connection_;
  std::unique_lock<std::mutex> control_;
  bool connected_ = false;
};

class PulseConnection {
 public:
  static PulseConnection& Get();
  ~PulseConnection();

 private:
  friend class PulseSession;
  PulseConnection() = default;
  bool EnsureMainloop();
  bool EnsureContext(PulseSession& session);
  void DropContext();
  static void OnContextState(pa_context* context, void* mainloop);

  std::mutex control_;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
};

}  // namespace twplat::sound
