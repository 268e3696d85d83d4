#include "cli/servers_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "discovery/server_browser.h"

namespace twcli {

int ListServers(std::optional<double> seconds) {
  twdisc::BrowseRequest request;
  if (seconds.has_value()) {
    request.seconds = *seconds;
    request.untilSettled = false;
  }
  std::vector<twdisc::FoundServer> found;
  std::string error;
  if (!twdisc::BrowseServers(request, &found, &error)) {
    std::fprintf(stderr, "tonewire-cli: discovery is off (%s)\n", error.c_str());
    return 1;
  }
  for (const twdisc::FoundServer& server : found) {
    std::printf("%s\n", twdisc::ServerLine(server).c_str());
  }
  return 0;
}

}  // namespace twcli
