#include "cli/announced_port.h"

#include <netdb.h>
#include <sys/socket.h>

#include <string>

#include "discovery/server_browser.h"

namespace twcli {
namespace {

// The same question the program's lookup asks first.
bool SystemResolves(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
    return false;
  }
  freeaddrinfo(found);
  return true;
}

}  // namespace

void TakeAnnouncedPort(Options* options) {
  if (options->command != Command::kClient || options->port.has_value() || options->host.empty() ||
      SystemResolves(options->host)) {
    return;
  }
  twdisc::FoundServer server;
  if (twdisc::FindAnnounced(options->host, &server)) {
    options->port = std::to_string(server.port);
  }
}

}  // namespace twcli
