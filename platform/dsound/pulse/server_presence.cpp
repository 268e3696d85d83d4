#include "platform/dsound/pulse/server_presence.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace twplat::sound {
namespace {

// Where the client library looks for the server's socket by itself.
std::string SessionSocketFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && *runtime != '\0' ? std::string(runtime) + "/pulse" : "";
}

bool IsFolder(const std::string& path) {
  struct stat status {};
  return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool ServerProgramPresent() {
  for (const char* program : {"/usr/bin/pulseaudio", "/usr/bin/pipewire-pulse",
                              "/usr/local/bin/pulseaudio", "/usr/local/bin/pipewire-pulse"}) {
    if (access(program, X_OK) == 0) {
      return true;
    }
  }
  return false;
}

std::atomic<bool> awayNoted{false};
std::atomic<bool> everReached{false};

}  // namespace

// A sound server is installed when the user named one (PULSE_SERVER): a
// network address, or a socket in a folder that exists (a server that is
// away keeps its folder; one in a folder nobody made is not coming).
// Otherwise when its socket folder exists in the session (a socket unit or a
// server that ran) or a server program (pulseaudio, pipewire-pulse) is
// installed in the system's program folders.
bool PulseInstalled() {
  const char* named = std::getenv("PULSE_SERVER");
  if (named != nullptr && *named != '\0') {
    std::string server(named);
    if (server.rfind("unix:", 0) == 0) {
      server.erase(0, 5);
    } else if (server.front() != '/') {
      return true;
    }
    return IsFolder(server.substr(0, server.find_last_of('/')));
  }
  return IsFolder(SessionSocketFolder()) || ServerProgramPresent();
}

void NoteServerAway(bool capture) {
  if (awayNoted.exchange(true, std::memory_order_acq_rel)) {
    return;
  }
  const char* what = capture ? "capture" : "playback";
  if (everReached.load(std::memory_order_acquire)) {
    std::fprintf(stderr,
                 "Tonewire: the sound server went away; %s goes on with silence until it is back\n",
                 what);
  } else {
    std::fprintf(stderr, "Tonewire: no sound server is running yet; %s waits for it with silence\n",
                 what);
  }
  std::fflush(stderr);
}

void NoteServerBack() {
  everReached.store(true, std::memory_order_release);
  awayNoted.store(false, std::memory_order_release);
}

}  // namespace twplat::sound
