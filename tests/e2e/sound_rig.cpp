#include "tests/e2e/sound_rig.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace twtest {
namespace {

constexpr int kToolTimeoutMs = 10000;

std::vector<std::string> RawFormat() {
  return {"--raw", "--format=s16le", "--rate=44100", "--channels=2"};
}

void AddLatency(std::vector<std::string>* argv, int latencyMs) {
  if (latencyMs > 0) {
    argv->push_back("--latency-msec=" + std::to_string(latencyMs));
  }
}

}  // namespace

bool Pactl(const std::vector<std::string>& arguments, std::string* output) {
  std::vector<std::string> argv = {"pactl"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  bool ok = false;
  const std::string text = RunToEnd(argv, kToolTimeoutMs, &ok);
  if (output != nullptr) {
    *output = text;
  }
  return ok;
}

int LoadModule(const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {"load-module"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::string index;
  if (!Pactl(command, &index)) {
    return -1;
  }
  try {
    return std::stoi(index);
  } catch (...) {
    return -1;
  }
}

void UnloadModule(int index) {
  if (index >= 0) {
    Pactl({"unload-module", std::to_string(index)});
  }
}

ChildOptions RecorderOptions(const std::string& source, int latencyMs) {
  ChildOptions options;
  options.argv = {"parec", "--device=" + source};
  const std::vector<std::string> format = RawFormat();
  options.argv.insert(options.argv.end(), format.begin(), format.end());
  AddLatency(&options.argv, latencyMs);
  options.rawStdout = true;
  return options;
}

ChildOptions PlayerOptions(const std::string& sink, int latencyMs) {
  ChildOptions options;
  options.argv = {"pacat", "--playback", "--device=" + sink};
  const std::vector<std::string> format = RawFormat();
  options.argv.insert(options.argv.end(), format.begin(), format.end());
  AddLatency(&options.argv, latencyMs);
  options.pipeStdin = true;
  return options;
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return -1;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

double SecondsOfBytes(std::uint64_t bytes) { return static_cast<double>(bytes) / kBytesPerSecond; }

}  // namespace twtest
