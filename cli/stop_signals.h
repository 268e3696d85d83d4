// SIGINT and SIGTERM as requests to close the window. They are blocked in
// every thread (call BlockStopSignals before any thread starts) and taken
// synchronously by the driver, so no handler runs inside the window system.
#pragma once

namespace twcli {

// False when the signal mask cannot be set.
bool BlockStopSignals();
// True when SIGINT or SIGTERM has arrived since the last call. Never waits.
bool TakeStopSignal();

}  // namespace twcli
