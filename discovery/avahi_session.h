// One connection to the local mDNS daemon (Avahi) over the system message
// bus, with its own event thread. The daemon's callbacks run on that thread
// with the session's lock held; every other thread takes the lock (Lock)
// before it touches the client or anything made from it.
#pragma once

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>

#include <string>

namespace twdisc {

class AvahiSession {
 public:
  AvahiSession() = default;
  ~AvahiSession();
  AvahiSession(const AvahiSession&) = delete;
  AvahiSession& operator=(const AvahiSession&) = delete;

  // Connects and starts the event thread; false with the daemon's error text
  // when no daemon answers. onState may run before this returns, on the
  // calling thread, with the client it is given.
  bool Connect(AvahiClientCallback onState, void* context, std::string* error);
  AvahiClient* client() const { return client_; }

  // Holds the event thread off while the caller works on the client.
  class Lock {
   public:
    explicit Lock(const AvahiSession& session) : poll_(session.poll_) {
      avahi_threaded_poll_lock(poll_);
    }
    ~Lock() { avahi_threaded_poll_unlock(poll_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    AvahiThreadedPoll* poll_;
  };

 private:
  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  bool started_ = false;
};

// The service type Servers announce.
inline constexpr char kServiceType[] = "_tonewire._tcp";

}  // namespace twdisc
