// tonewire-cli's entry; the program is cli/program.cpp, in the library tw_cli.
#include "cli/program.h"

int main(int argc, char** argv) { return twcli::RunProgram(argc, argv); }
