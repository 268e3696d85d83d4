// A Client given an announced Server's name and no port takes the port the
// Server announced.
#pragma once

#include "cli/options.h"

namespace twcli {

// Sets options->port from the announcement when the command is client, no
// port was given, and the host is no name or address the system resolver
// knows but a Server's announced name.
void TakeAnnouncedPort(Options* options);

}  // namespace twcli
