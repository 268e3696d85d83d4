// tonewire-cli: the main window "Audio streamer" driven from the command line.
#pragma once

namespace twcli {

// The whole program: reads the command line, runs the window until it closes
// and ends the process with the exit status (2 for bad arguments, 0 for
// --help and --version). Returns only for those and for failures before the
// window runs.
int RunProgram(int argc, char** argv);

}  // namespace twcli
