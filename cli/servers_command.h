// tonewire-cli servers: the Servers announced on the local network.
#pragma once

#include <optional>

namespace twcli {

// Prints one line per Server found, sorted, to stdout; without seconds the
// look ends once the mDNS daemon has said what it knows. Returns the exit
// status: 0, or 1 (a line on stderr) when no daemon answers.
int ListServers(std::optional<double> seconds);

}  // namespace twcli
