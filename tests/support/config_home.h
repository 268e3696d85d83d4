// A private, empty $XDG_CONFIG_HOME for code that keeps per-user settings,
// so that no test reads or changes the settings of the user running it, or
// those another test left.
#pragma once

#include <string>

namespace twtest {

// Points XDG_CONFIG_HOME at a new empty folder (removing the one an
// earlier call made) and returns it. The last one is removed at exit.
std::string UseFreshConfigHome();

}  // namespace twtest
