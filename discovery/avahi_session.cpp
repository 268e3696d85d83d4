#include "discovery/avahi_session.h"

#include <avahi-common/error.h>

namespace twdisc {

AvahiSession::~AvahiSession() {
  if (started_) {
    avahi_threaded_poll_stop(poll_);  // joins the event thread
  }
  if (client_ != nullptr) {
    avahi_client_free(client_);  // with its entry groups, browsers and resolvers
  }
  if (poll_ != nullptr) {
    avahi_threaded_poll_free(poll_);
  }
}

bool AvahiSession::Connect(AvahiClientCallback onState, void* context, std::string* error) {
  poll_ = avahi_threaded_poll_new();
  if (poll_ == nullptr) {
    *error = avahi_strerror(AVAHI_ERR_NO_MEMORY);
    return false;
  }
  int code = 0;
  client_ = avahi_client_new(avahi_threaded_poll_get(poll_), static_cast<AvahiClientFlags>(0),
                             onState, context, &code);
  if (client_ == nullptr) {
    *error = avahi_strerror(code);
    return false;
  }
  if (avahi_threaded_poll_start(poll_) < 0) {
    *error = "no event thread";
    return false;
  }
  started_ = true;
  return true;
}

}  // namespace twdisc
