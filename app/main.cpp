// The tonewire executable: the program's entry under the platform layer,
// with the headless host until a desktop host is installed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "app/entry.h"

// The resources are linked into the executable and found without an
// instance handle, so none is passed. Like the end of a Windows process,
// the return ends a worker thread that is still running: _Exit skips
// the static destructors that such a thread could still be using.
int main() {
  const int exitCode = WinMain(nullptr, nullptr, nullptr, 0);
  std::fflush(nullptr);
  std::_Exit(exitCode);
}
