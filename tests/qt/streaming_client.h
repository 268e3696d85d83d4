// A Client made for the tests: connects to a Server on 127.0.0.1, sends a
// stream header for 44100 Hz, 2 channels, 16 bits and blocks of 24576 bytes,
// then a 440 Hz tone at the pace a capture device would give it, until it is
// destroyed or the Server closes the connection.
#pragma once

#include <atomic>
#include <thread>

namespace twtest {

class StreamingClient {
 public:
  explicit StreamingClient(int port);
  ~StreamingClient();
  StreamingClient(const StreamingClient&) = delete;
  StreamingClient& operator=(const StreamingClient&) = delete;

  bool connected() const { return connection_.load() >= 0; }

 private:
  void Stream(int port);

  std::atomic<bool> stop_{false};
  std::atomic<int> connection_{-1};
  std::thread thread_;
};

}  // namespace twtest
