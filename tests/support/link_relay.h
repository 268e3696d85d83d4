// A network link between two programs on 127.0.0.1, for tests and
// benchmarks of streaming over Wi-Fi-like links (the kernel here has no
// netem). The relay accepts on a 127.0.0.1 port of its own, connects to the
// target's 127.0.0.1 port, and delivers every byte in order after a base
// delay plus exponential jitter; at set intervals it holds everything (a
// spike: nothing is delivered, what was sent waits and then drains in
// order), and it can cut the link (nothing through either way: it neither
// reads nor delivers). Its randomness is seeded, so a run is reproducible.
// Profiles and their sources: docs/network.md.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace twtest {

// Something that recurs on the link: every periodMs from the connection's
// start (the first at periodMs), for lengthMs.
struct LinkEvent {
  double periodMs;
  double lengthMs;
};

struct LinkProfile {
  std::string name;
  double baseDelayMs = 0;
  double jitterMeanMs = 0;         // mean of the exponential jitter
  std::vector<LinkEvent> holds;    // spikes: delivery stops, reading goes on
  std::vector<LinkEvent> outages;  // cuts: nothing through either way
};

// wired, wifi-good, wifi-loaded, wifi-flooded, outage, in that order.
std::vector<LinkProfile> LinkProfiles();
// The profile of that name; false when there is none.
bool FindLinkProfile(const std::string& name, LinkProfile* profile);
// Where delivery stops (holds and outages) in the first seconds of a
// connection, in ms from its start, ordered by start.
std::vector<LinkEvent> StopsWithin(const LinkProfile& profile, double seconds);

class LinkRelay {
 public:
  using Clock = std::chrono::steady_clock;

  LinkRelay(LinkProfile profile, int targetPort, std::uint64_t seed);
  ~LinkRelay();  // stops the relay and closes every socket
  LinkRelay(const LinkRelay&) = delete;
  LinkRelay& operator=(const LinkRelay&) = delete;

  // Listens on 127.0.0.1 and starts relaying, one connection at a time.
  bool Start();
  int port() const { return port_; }

  // Besides the profile's: delivers nothing for the next ms (a spike) /
  // passes nothing either way for the next ms (a cut).
  void HoldFor(double ms);
  void CutFor(double ms);

  // Bytes delivered to the target so far, over every connection.
  std::uint64_t DeliveredBytes() const { return delivered_.load(); }
  // When the current (or last) connection was accepted; epoch before any.
  Clock::time_point ConnectedAt() const;

 private:
  struct Link;
  void Run();

  const LinkProfile profile_;
  const int targetPort_;
  const std::uint64_t seed_;
  int listener_ = -1;
  int port_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> heldUntilNs_{0};
  std::atomic<std::int64_t> cutUntilNs_{0};
  std::atomic<std::uint64_t> delivered_{0};
  mutable std::mutex mutex_;
  Clock::time_point connectedAt_{};
  std::thread thread_;
};

}  // namespace twtest
