#include "tests/support/pipewire_daemon.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/support/daemon_process.h"

namespace twtest {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kPoll = std::chrono::milliseconds(50);
constexpr int kStopGraceMs = 3000;

const char* const kProcessNames[] = {"dbus-daemon", "pipewire", "wireplumber", "pipewire-pulse"};

// The front end loads the sinks itself at start, as pactl would.
constexpr char kFrontEndConfig[] =
    "pulse.cmd = [\n"
    "  { cmd = \"load-module\" args = \"module-null-sink sink_name=Speakers "
    "sink_properties=device.description=Speakers\" }\n"
    "  { cmd = \"load-module\" args = \"module-null-sink sink_name=Mic "
    "sink_properties=device.description=Mic\" }\n"
    "]\n";

std::string BusAddress(const std::string& directory) { return "unix:path=" + directory + "/bus"; }

std::vector<std::string> Arguments(int which, const std::string& directory) {
  if (which == 0) {
    return {"dbus-daemon", "--session", "--nofork", "--nopidfile",
            "--address=" + BusAddress(directory)};
  }
  return {kProcessNames[which]};
}

std::vector<std::string> Environment(const std::string& directory) {
  return PrivateEnvironment({{"HOME", directory},
                             {"XDG_RUNTIME_DIR", directory},
                             {"PIPEWIRE_RUNTIME_DIR", directory},
                             {"PULSE_RUNTIME_PATH", directory + "/pulse"},
                             {"XDG_CONFIG_HOME", directory + "/config"},
                             {"XDG_STATE_HOME", directory + "/state"},
                             {"DBUS_SESSION_BUS_ADDRESS", BusAddress(directory)}});
}

// A socket file appears once its server listens.
bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Both sinks, as pactl lists them.
bool SinksListed(const std::string& address) {
  const std::string command = "PULSE_SERVER='" + address + "' pactl list short sinks 2>/dev/null";
  FILE* pactl = ::popen(command.c_str(), "r");
  if (pactl == nullptr) {
    return false;
  }
  std::string listed;
  char chunk[512];
  size_t count = 0;
  while ((count = std::fread(chunk, 1, sizeof chunk, pactl)) > 0) {
    listed.append(chunk, count);
  }
  const bool ended = ::pclose(pactl) == 0;
  return ended && listed.find("\tSpeakers\t") != std::string::npos &&
         listed.find("\tMic\t") != std::string::npos;
}

}  // namespace

PipeWireDaemon::PipeWireDaemon() {
  char pattern[] = "/tmp/tw-pipewire-XXXXXX";
  if (::mkdtemp(pattern) != nullptr) {
    directory_ = pattern;
  }
}

PipeWireDaemon::~PipeWireDaemon() {
  Stop();
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

bool PipeWireDaemon::WriteConfig(std::string* reason) const {
  const std::filesystem::path drops =
      std::filesystem::path(directory_) / "config/pipewire/pipewire-pulse.conf.d";
  std::error_code failed;
  std::filesystem::create_directories(drops, failed);
  std::filesystem::create_directories(directory_ + "/pulse", failed);
  std::filesystem::create_directories(directory_ + "/state", failed);
  std::ofstream file(drops / "tonewire-test.conf");
  file << kFrontEndConfig;
  file.close();
  if (failed || !file) {
    *reason = "cannot write the PipeWire configuration in " + directory_;
    return false;
  }
  return true;
}

bool PipeWireDaemon::StartProcess(Process which, std::string* reason) {
  const std::string log = directory_ + "/" + kProcessNames[which] + ".log";
  pids_[which] = StartDaemon(Arguments(which, directory_), Environment(directory_), log);
  if (pids_[which] < 0) {
    *reason = std::string("cannot start ") + kProcessNames[which] + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool PipeWireDaemon::Start(std::string* reason) {
  if (directory_.empty()) {
    *reason = "no temporary folder for the sound server";
    return false;
  }
  if (!WriteConfig(reason)) {
    return false;
  }
  // Each waits for the one before: the bus, then PipeWire's own socket.
  const std::string waitFor[] = {directory_ + "/bus", directory_ + "/pipewire-0", "", ""};
  for (int which = kBus; which < kProcessCount; ++which) {
    if (!StartProcess(static_cast<Process>(which), reason)) {
      Stop();
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!waitFor[which].empty() && !Exists(waitFor[which]) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kPoll);
    }
  }
  return WaitUntilReady(reason);
}

bool PipeWireDaemon::WaitUntilReady(std::string* reason) {
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    for (int which = kBus; which < kProcessCount; ++which) {
      if (!StillRunning(&pids_[which])) {
        *reason = std::string(kProcessNames[which]) + " ended at start-up:\n" + LogTails();
        Stop();
        return false;
      }
    }
    if (SocketAccepts(socketPath()) && SinksListed(serverAddress())) {
      return true;
    }
    std::this_thread::sleep_for(kPoll);
  }
  *reason = "PipeWire's PulseAudio front end did not list both sinks within 10 s:\n" + LogTails();
  Stop();
  return false;
}

// The front end first, the bus last.
void PipeWireDaemon::Stop() {
  for (int which = kProcessCount - 1; which >= kBus; --which) {
    ReapDaemon(&pids_[which], SIGTERM, kStopGraceMs);
  }
}

std::string PipeWireDaemon::LogTails() const {
  std::string tails;
  for (const char* name : kProcessNames) {
    tails += std::string("--- ") + name + ":\n" + FileTail(directory_ + "/" + name + ".log", 600);
  }
  return tails;
}

}  // namespace twtest
