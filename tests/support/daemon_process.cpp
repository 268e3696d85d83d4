#include "tests/support/daemon_process.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace twtest {
namespace {

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

std::string FileTail(const std::string& path, size_t maxBytes) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  const std::string all = text.str();
  return all.size() > maxBytes ? all.substr(all.size() - maxBytes) : all;
}

}  // namespace twtest
