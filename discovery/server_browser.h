// Looks for announced Servers on the local network through the mDNS daemon.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/found_server.h"

namespace twdisc {

struct BrowseRequest {
  double seconds = 5;  // the longest the look lasts
  bool untilSettled =
      true;            // end once the daemon has said all it knows and each Server is resolved
  std::string wanted;  // end as soon as this instance is resolved; empty: look for all
};

// The Servers found (sorted, each once); false with the daemon's error text
// when no daemon answers.
bool BrowseServers(const BrowseRequest& request, std::vector<FoundServer>* found,
                   std::string* error);

// The Server announced as name (any case); false when none is found within
// a few seconds or there is no daemon.
bool FindAnnounced(const std::string& name, FoundServer* server);

// The IPv4 address (network order) of the Server announced as name; false
// when none is found within a few seconds or there is no daemon.
bool ResolveAnnouncedName(const std::string& name, std::uint32_t* address);

}  // namespace twdisc
