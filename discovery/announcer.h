// Announces this process's Server on the local network: a DNS-SD service of
// type _tonewire._tcp on the Server's port, under an instance name, with the
// program's version in its TXT record. When another service on the network
// holds the name, the daemon's alternative ("NAME #2") is taken and said once
// in the log. Without a daemon one log line says discovery is off and nothing
// else changes.
//
// Thread contract: Announce and Withdraw may be called from any thread, one
// at a time (the Server's worker calls them).
#pragma once

#include <avahi-client/publish.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "discovery/avahi_session.h"

namespace twdisc {

// Writes one line of the log (no newline).
using LogLine = void (*)(const std::string& line);

class Announcer {
 public:
  Announcer(std::string name, LogLine log);
  ~Announcer();
  Announcer(const Announcer&) = delete;
  Announcer& operator=(const Announcer&) = delete;

  // Announces the Server on port, connecting to the daemon first where there
  // is no connection yet (or it was lost).
  void Announce(int port);
  // Takes the announcement back; the connection stays for the next one.
  void Withdraw();

 private:
  static void OnClientState(AvahiClient* client, AvahiClientState state, void* context);
  static void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* context);
  bool EnsureSession();
  // The rest run with the session's lock held (or before its thread starts).
  void Publish(AvahiClient* client);
  void TakeAlternativeName();

  std::mutex sessionMutex_;  // one Announce or Withdraw at a time
  std::unique_ptr<AvahiSession> session_;
  std::atomic<bool> sessionLost_{false};
  bool offReported_ = false;
  LogLine log_;
  // Under the session's lock:
  AvahiEntryGroup* group_ = nullptr;
  std::string name_;
  int port_ = 0;  // 0: nothing to announce
};

}  // namespace twdisc
