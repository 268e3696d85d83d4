#include "discovery/announcer.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include <utility>

namespace twdisc {
namespace {

constexpr char kVersionRecord[] = "version=" TW_VERSION;

}  // namespace

Announcer::Announcer(std::string name, LogLine log) : log_(log), name_(std::move(name)) {}

// The session goes first: its event thread stops before the fields its
// callbacks use.
Announcer::~Announcer() { session_.reset(); }

void Announcer::Announce(int port) {
  std::lock_guard<std::mutex> hold(sessionMutex_);
  if (!EnsureSession()) {
    return;
  }
  AvahiSession::Lock lock(*session_);
  port_ = port;
  if (avahi_client_get_state(session_->client()) == AVAHI_CLIENT_S_RUNNING) {
    Publish(session_->client());
  }
}

void Announcer::Withdraw() {
  std::lock_guard<std::mutex> hold(sessionMutex_);
  if (session_ == nullptr) {
    return;
  }
  AvahiSession::Lock lock(*session_);
  port_ = 0;
  if (group_ != nullptr) {
    avahi_entry_group_reset(group_);
  }
}

bool Announcer::EnsureSession() {
  if (session_ != nullptr && !sessionLost_.load()) {
    return true;
  }
  session_.reset();
  group_ = nullptr;  // freed with its client
  sessionLost_.store(false);
  auto session = std::make_unique<AvahiSession>();
  std::string error;
  if (!session->Connect(&Announcer::OnClientState, this, &error)) {
    if (!offReported_) {
      log_("Discovery is off (" + error + "): Clients reach this Server by its address only");
      offReported_ = true;
    }
    return false;
  }
  session_ = std::move(session);
  return true;
}

void Announcer::Publish(AvahiClient* client) {
  if (port_ == 0) {
    return;
  }
  if (group_ == nullptr) {
    group_ = avahi_entry_group_new(client, &Announcer::OnGroupState, this);
    if (group_ == nullptr) {
      log_(std::string("Discovery: cannot announce (") +
           avahi_strerror(avahi_client_errno(client)) + ")");
      return;
    }
  }
  if (!avahi_entry_group_is_empty(group_)) {
    return;
  }
  int added = AVAHI_ERR_COLLISION;
  // A name this daemon already holds for another service is a collision
  // found at once; the network's collisions arrive as the group's state.
  for (int attempt = 0; attempt < 100 && added == AVAHI_ERR_COLLISION; ++attempt) {
    added = avahi_entry_group_add_service(
        group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
        name_.c_str(), kServiceType, nullptr, nullptr, static_cast<uint16_t>(port_), kVersionRecord,
        static_cast<const char*>(nullptr));
    if (added == AVAHI_ERR_COLLISION) {
      TakeAlternativeName();
    }
  }
  if (added < 0 || avahi_entry_group_commit(group_) < 0) {
    log_(std::string("Discovery: cannot announce \"") + name_ + "\" (" +
         avahi_strerror(avahi_client_errno(client)) + ")");
    avahi_entry_group_reset(group_);
  }
}

void Announcer::TakeAlternativeName() {
  char* alternative = avahi_alternative_service_name(name_.c_str());
  if (alternative == nullptr) {
    return;
  }
  log_("Discovery: the name \"" + name_ + "\" is taken on the network; announced as \"" +
       alternative + "\"");
  name_ = alternative;
  avahi_free(alternative);
}

void Announcer::OnClientState(AvahiClient* client, AvahiClientState state, void* context) {
  Announcer* self = static_cast<Announcer*>(context);
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      self->Publish(client);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The daemon's own host name is being settled; announced again when
      // it runs.
      if (self->group_ != nullptr) {
        avahi_entry_group_reset(self->group_);
      }
      break;
    case AVAHI_CLIENT_FAILURE:
      self->log_(std::string("Discovery stopped (") + avahi_strerror(avahi_client_errno(client)) +
                 ")");
      self->sessionLost_.store(true);
      break;
    case AVAHI_CLIENT_CONNECTING:
      break;
  }
}

void Announcer::OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* context) {
  Announcer* self = static_cast<Announcer*>(context);
  if (state == AVAHI_ENTRY_GROUP_COLLISION) {
    self->TakeAlternativeName();
    avahi_entry_group_reset(group);
    self->Publish(avahi_entry_group_get_client(group));
  } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
    self->log_(std::string("Discovery: the announcement failed (") +
               avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))) + ")");
  }
}

}  // namespace twdisc
