#include "discovery/host_discovery.h"

#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "discovery/announcer.h"
#include "discovery/server_browser.h"
#include "platform/winsock/host_hooks.h"

namespace twdisc {
namespace {

void LogToStderr(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

// The program's listeners by descriptor; the Server is announced while one
// listens and withdrawn when the last one closes.
class HostDiscovery : public twsock::HostHooks {
 public:
  explicit HostDiscovery(const std::string& name) : announcer_(name, &LogToStderr) {}

  void Listening(int fd, int port) override {
    std::lock_guard<std::mutex> hold(mutex_);
    const bool first = listeners_.empty();
    listeners_[fd] = port;
    if (first) {
      announcer_.Announce(port);
    }
  }

  void ListenerClosing(int fd) override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (listeners_.erase(fd) != 0 && listeners_.empty()) {
      announcer_.Withdraw();
    }
  }

  bool ResolveName(const char* name, std::uint32_t* address) override {
    return ResolveAnnouncedName(name, address);
  }

 private:
  std::mutex mutex_;
  std::map<int, int> listeners_;
  Announcer announcer_;
};

}  // namespace

void StartHostDiscovery(const std::string& instanceName) {
  // Lives until the process ends, as the hooks must.
  static HostDiscovery* discovery = new HostDiscovery(instanceName);
  twsock::SetHostHooks(discovery);
}

std::string DefaultInstanceName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
    return "Tonewire";
  }
  return name;
}

}  // namespace twdisc
