#include "tests/support/daemon_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace twtest {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);

const char* const kSessionVariables[] = {"HOME",
                                         "XDG_RUNTIME_DIR",
                                         "XDG_CONFIG_HOME",
                                         "XDG_STATE_HOME",
                                         "XDG_DATA_HOME",
                                         "PULSE_RUNTIME_PATH",
                                         "PULSE_SERVER",
                                         "PIPEWIRE_RUNTIME_DIR",
                                         "PIPEWIRE_REMOTE",
                                         "DBUS_SESSION_BUS_ADDRESS"};

bool IsSessionVariable(const std::string& name) {
  for (const char* session : kSessionVariables) {
    if (name == session) {
      return true;
    }
  }
  return false;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// In the child, between fork and exec: async-signal-safe calls only. The
// server ends with the thread that started it, even when that process dies
// without stopping it (a crash, a sanitizer halt, a test time-out).
[[noreturn]] void RunDaemon(pid_t parent, const char* log, char** argv, char** envp) {
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

std::vector<std::string> PrivateEnvironment(
    const std::vector<std::pair<std::string, std::string>>& pointed) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!IsSessionVariable(text.substr(0, text.find('=')))) {
      variables.push_back(text);
    }
  }
  for (const auto& [name, value] : pointed) {
    variables.push_back(name + "=" + value);
  }
  return variables;
}

pid_t StartDaemon(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                  const std::string& logPath) {
  std::vector<std::string> arguments = argv;
  std::vector<std::string> variables = environment;
  std::vector<char*> argPointers = Pointers(arguments);
  std::vector<char*> envPointers = Pointers(variables);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    RunDaemon(parent, logPath.c_str(), argPointers.data(), envPointers.data());
  }
  return pid;
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

bool StillRunning(pid_t* pid) {
  int status = 0;
  if (*pid > 0 && ::waitpid(*pid, &status, WNOHANG) == *pid) {
    *pid = -1;
  }
  return *pid > 0;
}

void ReapDaemon(pid_t* pid, int signal, int graceMs) {
  if (*pid <= 0) {
    return;
  }
  ::kill(*pid, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  int status = 0;
  while (::waitpid(*pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(*pid, SIGKILL);
      ::waitpid(*pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kPoll);
  }
  *pid = -1;
}

std::string FileTail(const std::string& path, size_t maxBytes) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  const std::string all = text.str();
  return all.size() > maxBytes ? all.substr(all.size() - maxBytes) : all;
}

}  // namespace twtest
