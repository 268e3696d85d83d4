#include "discovery/server_browser.h"

#include <arpa/inet.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "discovery/avahi_session.h"

namespace twdisc {
namespace {

// Filled by the daemon's callbacks on the session's thread, read by the
// caller's thread.
class BrowseState {
 public:
  explicit BrowseState(const BrowseRequest& request) : request_(request) {}

  // An instance is announced once per interface and protocol it is heard
  // on, and gone when the last of them is withdrawn.
  void Appeared(const std::string& instance) {
    std::lock_guard<std::mutex> hold(mutex_);
    ++pending_;
    ++present_[instance];
  }
  void Withdrawn(const std::string& instance) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (--present_[instance] > 0) {
      return;
    }
    present_.erase(instance);
    std::erase_if(found_, [&](const FoundServer& server) { return server.instance == instance; });
  }
  // A resolution that ends after its instance was withdrawn adds nothing.
  void Resolved(const FoundServer* server) {
    std::lock_guard<std::mutex> hold(mutex_);
    --pending_;
    if (server != nullptr && present_.count(server->instance) != 0) {
      found_.push_back(*server);
    }
    changed_.notify_all();
  }
  void AllForNow() {
    std::lock_guard<std::mutex> hold(mutex_);
    allForNow_ = true;
    changed_.notify_all();
  }
  void Failed(const std::string& error) {
    std::lock_guard<std::mutex> hold(mutex_);
    error_ = error;
    changed_.notify_all();
  }

  // Waits for the end of the look; false with the error when the daemon
  // failed.
  bool Wait(std::vector<FoundServer>* found, std::string* error) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(request_.seconds);
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait_until(hold, deadline, [this] { return Done(); });
    *found = found_;
    *error = error_;
    return error_.empty();
  }

 private:
  bool Done() const {
    if (!error_.empty()) {
      return true;
    }
    if (!request_.wanted.empty() && FindByInstance(found_, request_.wanted) != nullptr) {
      return true;
    }
    return request_.untilSettled && allForNow_ && pending_ == 0;
  }

  const BrowseRequest request_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FoundServer> found_;
  std::map<std::string, int> present_;
  int pending_ = 0;
  bool allForNow_ = false;
  std::string error_;
};

void OnResolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                AvahiResolverEvent event, const char* name, const char*, const char*,
                const char* hostName, const AvahiAddress* address, uint16_t port, AvahiStringList*,
                AvahiLookupResultFlags, void* context) {
  BrowseState* state = static_cast<BrowseState*>(context);
  if (event == AVAHI_RESOLVER_FOUND && address != nullptr && address->proto == AVAHI_PROTO_INET) {
    char text[AVAHI_ADDRESS_STR_MAX] = {};
    avahi_address_snprint(text, sizeof text, address);
    const FoundServer server{name, hostName, text, port};
    state->Resolved(&server);
  } else {
    state->Resolved(nullptr);
  }
  avahi_service_resolver_free(resolver);
}

void OnBrowsed(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
               AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
               AvahiLookupResultFlags, void* context) {
  BrowseState* state = static_cast<BrowseState*>(context);
  AvahiClient* client = avahi_service_browser_get_client(browser);
  switch (event) {
    case AVAHI_BROWSER_NEW:
      // The address asked for is IPv4, whichever protocol carried the
      // announcement: the program connects to IPv4 addresses.
      state->Appeared(name);
      if (avahi_service_resolver_new(client, interface, protocol, name, type, domain,
                                     AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0),
                                     &OnResolved, state) == nullptr) {
        state->Resolved(nullptr);
      }
      break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
      state->AllForNow();
      break;
    case AVAHI_BROWSER_FAILURE:
      state->Failed(avahi_strerror(avahi_client_errno(client)));
      break;
    case AVAHI_BROWSER_REMOVE:
      state->Withdrawn(name);
      break;
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
      break;
  }
}

void OnClientState(AvahiClient* client, AvahiClientState clientState, void* context) {
  if (clientState == AVAHI_CLIENT_FAILURE) {
    static_cast<BrowseState*>(context)->Failed(avahi_strerror(avahi_client_errno(client)));
  }
}

}  // namespace

bool BrowseServers(const BrowseRequest& request, std::vector<FoundServer>* found,
                   std::string* error) {
  BrowseState state(request);  // outlives the session's thread
  AvahiSession session;
  if (!session.Connect(&OnClientState, &state, error)) {
    return false;
  }
  {
    AvahiSession::Lock lock(session);
    if (avahi_service_browser_new(session.client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                  kServiceType, nullptr, static_cast<AvahiLookupFlags>(0),
                                  &OnBrowsed, &state) == nullptr) {
      *error = avahi_strerror(avahi_client_errno(session.client()));
      return false;
    }
  }
  if (!state.Wait(found, error)) {
    return false;
  }
  SortUnique(found);
  return true;
}

bool FindAnnounced(const std::string& name, FoundServer* server) {
  BrowseRequest request;
  request.seconds = 3;
  request.wanted = name;
  std::vector<FoundServer> found;
  std::string error;
  if (!BrowseServers(request, &found, &error)) {
    return false;
  }
  const FoundServer* match = FindByInstance(found, name);
  if (match == nullptr) {
    return false;
  }
  *server = *match;
  return true;
}

bool ResolveAnnouncedName(const std::string& name, std::uint32_t* address) {
  FoundServer server;
  in_addr parsed{};
  if (!FindAnnounced(name, &server) || inet_pton(AF_INET, server.address.c_str(), &parsed) != 1) {
    return false;
  }
  *address = parsed.s_addr;
  return true;
}

}  // namespace twdisc
