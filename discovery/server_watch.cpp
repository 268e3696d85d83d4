#include "discovery/server_watch.h"

#include <chrono>

#include "discovery/server_browser.h"

namespace twdisc {
namespace {

// A look ends once the daemon has said what it knows (about a second); the
// next starts this long after.
constexpr auto kPause = std::chrono::seconds(4);

}  // namespace

ServerWatch::ServerWatch() : thread_([this] { Watch(); }) {}

ServerWatch::~ServerWatch() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  stopRequested_.notify_all();
  thread_.join();
}

std::vector<std::string> ServerWatch::Names() {
  std::lock_guard<std::mutex> hold(mutex_);
  return names_;
}

void ServerWatch::Watch() {
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stopping_) {
    hold.unlock();
    std::vector<FoundServer> found;
    std::string error;
    std::vector<std::string> names;
    if (BrowseServers(BrowseRequest{}, &found, &error)) {
      for (const FoundServer& server : found) {
        if (names.empty() || names.back() != server.instance) {
          names.push_back(server.instance);
        }
      }
    }
    hold.lock();
    names_ = names;
    stopRequested_.wait_for(hold, kPause, [this] { return stopping_; });
  }
}

}  // namespace twdisc
