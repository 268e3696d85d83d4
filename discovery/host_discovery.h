// Discovery for a Linux host program: while the program listens (a Server
// runs) it is announced under the instance name, and a host text the system
// resolver does not know is looked up among the announced Servers' names.
// Messages go to stderr, one line each.
//
// Thread contract: StartHostDiscovery once, on the main thread, before the
// window opens; it lasts for the process's life.
#pragma once

#include <string>

namespace twdisc {

void StartHostDiscovery(const std::string& instanceName);

// The instance name a Server takes when none is given: the host's name.
std::string DefaultInstanceName();

// The instance name the desktop window announces its Server under, kept per
// user beside the window's settings; empty when none is kept.
std::string KeptInstanceName();
// Keeps name (empty: the default again); false when it cannot be written.
bool KeepInstanceName(const std::string& name);

}  // namespace twdisc
