// The Servers on the local network, looked for again every few seconds on a
// thread of its own, for a window that offers them while the user types.
//
// Thread contract: Names may be called from any thread; the destructor ends
// the thread (within one look, a few seconds at most).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace twdisc {

class ServerWatch {
 public:
  ServerWatch();
  ~ServerWatch();
  ServerWatch(const ServerWatch&) = delete;
  ServerWatch& operator=(const ServerWatch&) = delete;

  // The instance names found by the last look, sorted; none without a daemon.
  std::vector<std::string> Names();

 private:
  void Watch();

  std::mutex mutex_;
  std::condition_variable stopRequested_;
  bool stopping_ = false;
  std::vector<std::string> names_;
  std::thread thread_;
};

}  // namespace twdisc
