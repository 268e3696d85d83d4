#include "tests/support/pulse_daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

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

// The caller's environment with the server's home, runtime and config
// folders all pointing into its own folder.
std::vector<std::string> ServerEnvironment(const std::string& directory) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (name != "HOME" && name != "XDG_RUNTIME_DIR" && name != "XDG_CONFIG_HOME" &&
        name != "PULSE_RUNTIME_PATH" && name != "PULSE_SERVER" &&
        name != "DBUS_SESSION_BUS_ADDRESS") {
      variables.push_back(text);
    }
  }
  for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH"}) {
    variables.push_back(std::string(name) + "=" + directory);
  }
  variables.push_back("XDG_CONFIG_HOME=" + directory + "/config");
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

bool SocketAccepts(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return accepted;
}

// In the child, between fork and exec: async-signal-safe calls only. The
// server ends with the process that started it, even when that process dies
// without stopping it (a crash, a sanitizer halt, a test time-out).
[[noreturn]] void RunServer(pid_t parent, const char* log, char** argv, char** envp) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) {
    ::_exit(127);
  }
  const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::dup2(fd, 1);
    ::dup2(fd, 2);
  }
  ::execvpe(argv[0], argv, envp);
  ::_exit(127);
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
  std::vector<std::string> arguments = ServerArguments(directory_);
  std::vector<std::string> environment = ServerEnvironment(directory_);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);
  const std::string log = directory_ + "/server.log";
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    RunServer(parent, log.c_str(), argv.data(), envp.data());
  }
  if (pid_ < 0) {
    *reason = std::string("cannot start pulseaudio: ") + std::strerror(errno);
    return false;
  }
  return WaitForSocket(reason);
}

bool PulseDaemon::WaitForSocket(std::string* reason) {
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
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

void PulseDaemon::Reap(int signal, int graceMs) {
  if (!running()) {
    return;
  }
  ::kill(pid_, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kPoll);
  }
  pid_ = -1;
}

std::string PulseDaemon::LogTail() const {
  std::ifstream file(directory_ + "/server.log");
  std::stringstream text;
  text << file.rdbuf();
  const std::string all = text.str();
  return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

}  // namespace twtest
