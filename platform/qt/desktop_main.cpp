// The tonewire program on the desktop: the start-up a Windows C runtime
// would do for a windowed program, with the Qt host showing its windows.
#include <windows.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "discovery/host_discovery.h"
#include "discovery/server_watch.h"
#include "platform/qt/field_suggestions.h"
#include "platform/qt/qt_host.h"
#include "res/resource.h"

// The program's entry, as the C runtime of a windowed program calls it.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand);

namespace {

// Without a display Qt would abort; say what to do instead. A platform
// chosen explicitly (QT_QPA_PLATFORM, e.g. offscreen) needs none.
bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') {
      return true;
    }
  }
  return false;
}

// The command line after the program's name, as a windowed program gets it.
std::string CommandLineOf(int argc, char** argv) {
  std::string line;
  for (int index = 1; index < argc; ++index) {
    if (index > 1) {
      line += ' ';
    }
    line += argv[index];
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("tonewire %s\n", TW_VERSION);
    return 0;
  }
  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "tonewire: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are "
                 "not set); tonewire-cli runs without one\n");
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tonewire"));
  QApplication::setDesktopFileName(QStringLiteral("tonewire"));
  std::string commandLine = CommandLineOf(argc, argv);
  // The host stays installed until the process ends: a worker whose stop
  // timed out may still report to it.
  twqt::QtHost host;
  // A Server is announced under the kept name; the host field offers the
  // Servers found. Both last until the process ends.
  const std::string kept = twdisc::KeptInstanceName();
  twdisc::StartHostDiscovery(kept.empty() ? twdisc::DefaultInstanceName() : kept);
  static twdisc::ServerWatch* servers = new twdisc::ServerWatch();
  twqt::OfferSuggestions(IDC_TARGET_HOST, [] { return servers->Names(); });
  const int exitCode = WinMain(nullptr, nullptr, commandLine.data(), 0);
  // Like the end of a Windows process, the return ends a worker thread that
  // is still running: _Exit skips the destructors such a thread could still
  // be using.
  std::fflush(nullptr);
  std::_Exit(exitCode);
}
