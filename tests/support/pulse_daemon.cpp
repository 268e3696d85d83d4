#include "tests/support/pulse_daemon.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/support/daemon_process.h"

namespace twtest {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kPoll = std::chrono::milliseconds(20);

std::vector<std::string> ServerArguments(const std::string& directory) {
  const std::string sine =
      "module-sine-source source_name=Sine frequency=" + std::to_string(kSineSourceHz);
  return {"pulseaudio",
          "-n",
          "--daemonize=no",
          "--system=false",
          "--exit-idle-time=-1",
          "--use-pid-file=no",
          "--disallow-exit",
          "--realtime=false",
          "--high-priority=false",
          "--log-target=stderr",
          "-F",
          "/dev/null",
          "--load=module-native-protocol-unix auth-anonymous=1 socket=" + directory + "/native",
          "--load=module-null-sink sink_name=Speakers sink_properties=device.description=Speakers",
          "--load=module-null-sink sink_name=Mic sink_properties=device.description=Mic",
          "--load=" + sine};
}

// The server's home, runtime and config folders all in its own folder.
std::vector<std::string> ServerEnvironment(const std::string& directory) {
  return PrivateEnvironment({{"HOME", directory},
                             {"XDG_RUNTIME_DIR", directory},
                             {"PULSE_RUNTIME_PATH", directory},
                             {"XDG_CONFIG_HOME", directory + "/config"}});
}

}  // namespace

PulseDaemon::PulseDaemon() {
  char pattern[] = "/tmp/tw-pulse-XXXXXX";
  if (::mkdtemp(pattern) != nullptr) {
    directory_ = pattern;
  }
}

PulseDaemon::~PulseDaemon() {
  Stop();
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

bool PulseDaemon::Start(std::string* reason) {
  if (directory_.empty()) {
    *reason = "no temporary folder for the sound server";
    return false;
  }
  if (running()) {
    return true;
  }
  pid_ = StartDaemon(ServerArguments(directory_), ServerEnvironment(directory_),
                     directory_ + "/server.log");
  if (pid_ < 0) {
    *reason = std::string("cannot start pulseaudio: ") + std::strerror(errno);
    return false;
  }
  return WaitForSocket(reason);
}

bool PulseDaemon::WaitForSocket(std::string* reason) {
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!StillRunning(&pid_)) {
      *reason = "the sound server ended at start-up:\n" + LogTail();
      return false;
    }
    if (SocketAccepts(socketPath())) {
      return true;
    }
    std::this_thread::sleep_for(kPoll);
  }
  Reap(SIGKILL, 0);
  *reason = "the sound server did not open its socket within 10 s:\n" + LogTail();
  return false;
}

void PulseDaemon::Stop() { Reap(SIGTERM, 5000); }

void PulseDaemon::Kill() { Reap(SIGKILL, 0); }

void PulseDaemon::Reap(int signal, int graceMs) { ReapDaemon(&pid_, signal, graceMs); }

std::string PulseDaemon::LogTail() const { return FileTail(directory_ + "/server.log"); }

}  // namespace twtest
