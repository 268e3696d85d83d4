// Drives the main window as a user would, through the window system's input
// functions, from its own thread while WinMain runs the window on the main
// thread; ends by closing the window as its close box would.
#pragma once

#include "cli/cli_host.h"
#include "cli/console.h"
#include "cli/options.h"

namespace twcli {

// The exit status of the command (see UsageText).
int DriveWindow(const Options& options, CliHost& host, Console& console);

}  // namespace twcli
