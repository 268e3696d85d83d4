#include "tests/support/link_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <deque>
#include <memory>
#include <random>
#include <utility>

#include "tests/support/loopback_peer.h"

namespace twtest {
namespace {

using Clock = LinkRelay::Clock;

constexpr size_t kReadBytes = 65536;
// What the link holds in flight at most before the sender's own buffers
// fill: about 10 s of CD sound.
constexpr size_t kMaxQueuedBytes = 2u << 20;

std::int64_t Nanos(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

bool WithinEvent(const std::vector<LinkEvent>& events, double sinceMs) {
  return std::any_of(events.begin(), events.end(), [sinceMs](const LinkEvent& event) {
    return event.periodMs > 0 && sinceMs >= event.periodMs &&
           std::fmod(sinceMs, event.periodMs) < event.lengthMs;
  });
}

void MakeNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

struct Piece {
  Clock::time_point due;
  std::vector<char> bytes;
  size_t sent = 0;
};

// One direction of a connection: what was read from `from` and waits to be
// written to `to`.
struct Direction {
  Direction(int source, int sink) : from(source), to(sink) {}

  int from;
  int to;
  std::deque<Piece> queue;
  size_t queuedBytes = 0;
  Clock::time_point lastDue{};
  bool ended = false;   // from has closed its sending side
  bool closed = false;  // and to has been told, after the last byte
};

}  // namespace

struct LinkRelay::Link {
  Link(int client, int server) : up(client, server), down(server, client) {}
  ~Link() {
    peer::Close(up.from);
    peer::Close(up.to);
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Direction up;    // the connecting side to the target
  Direction down;  // back
  Clock::time_point start = Clock::now();
  bool failed = false;
};

namespace {

// Reads what from has, to be delivered after the link's delay, in order.
void ReadInto(Direction& direction, Clock::time_point now, const LinkProfile& profile,
              std::mt19937_64& random, bool* failed) {
  char buffer[kReadBytes];
  const ssize_t count = ::recv(direction.from, buffer, sizeof buffer, MSG_DONTWAIT);
  if (count == 0) {
    direction.ended = true;
    return;
  }
  if (count < 0) {
    *failed = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    return;
  }
  double delayMs = profile.baseDelayMs;
  if (profile.jitterMeanMs > 0) {
    delayMs += std::exponential_distribution<double>(1.0 / profile.jitterMeanMs)(random);
  }
  const auto delay = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(delayMs));
  Piece piece{std::max(direction.lastDue, now + delay), {buffer, buffer + count}};
  direction.lastDue = piece.due;
  direction.queuedBytes += piece.bytes.size();
  direction.queue.push_back(std::move(piece));
}

// Writes what is due, counting it into delivered (when given) before the
// end of stream follows it, so that a peer that saw the end sees the whole
// count.
void Deliver(Direction& direction, Clock::time_point now, bool* failed,
             std::atomic<std::uint64_t>* delivered) {
  while (!direction.queue.empty() && direction.queue.front().due <= now) {
    Piece& piece = direction.queue.front();
    const ssize_t count = ::send(direction.to, piece.bytes.data() + piece.sent,
                                 piece.bytes.size() - piece.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count < 0) {
      *failed = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
      break;
    }
    if (delivered != nullptr) {
      delivered->fetch_add(static_cast<std::uint64_t>(count));
    }
    piece.sent += static_cast<size_t>(count);
    direction.queuedBytes -= static_cast<size_t>(count);
    if (piece.sent < piece.bytes.size()) {
      break;
    }
    direction.queue.pop_front();
  }
  if (direction.ended && direction.queue.empty() && !direction.closed) {
    ::shutdown(direction.to, SHUT_WR);
    direction.closed = true;
  }
}

bool Due(const Direction& direction, Clock::time_point now) {
  return !direction.queue.empty() && direction.queue.front().due <= now;
}

}  // namespace

std::vector<LinkProfile> LinkProfiles() {
  const LinkProfile good{"wifi-good", 2, 2, {{33000, 250}}, {}};
  LinkProfile outage = good;
  outage.name = "outage";
  outage.outages = {{120000, 2000}};
  return {
      {"wired", 0.1, 0, {}, {}},
      good,
      {"wifi-loaded", 6, 8, {{10000, 300}, {60000, 1000}}, {}},
      {"wifi-flooded", 20, 30, {{30000, 800}}, {}},
      outage,
  };
}

bool FindLinkProfile(const std::string& name, LinkProfile* profile) {
  for (const LinkProfile& each : LinkProfiles()) {
    if (each.name == name) {
      *profile = each;
      return true;
    }
  }
  return false;
}

std::vector<LinkEvent> StopsWithin(const LinkProfile& profile, double seconds) {
  std::vector<LinkEvent> stops;  // here periodMs is the start
  for (const auto* events : {&profile.holds, &profile.outages}) {
    for (const LinkEvent& event : *events) {
      for (double at = event.periodMs; event.periodMs > 0 && at < seconds * 1000;
           at += event.periodMs) {
        stops.push_back({at, event.lengthMs});
      }
    }
  }
  std::sort(stops.begin(), stops.end(),
            [](const LinkEvent& a, const LinkEvent& b) { return a.periodMs < b.periodMs; });
  return stops;
}

LinkRelay::LinkRelay(LinkProfile profile, int targetPort, std::uint64_t seed)
    : profile_(std::move(profile)), targetPort_(targetPort), seed_(seed) {}

LinkRelay::~LinkRelay() {
  stop_.store(true);
  if (thread_.joinable()) {
    thread_.join();
  }
  peer::Close(listener_);
}

bool LinkRelay::Start() {
  listener_ = peer::Listen(&port_);
  if (listener_ < 0) {
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void LinkRelay::HoldFor(double ms) {
  heldUntilNs_.store(Nanos(Clock::now()) + static_cast<std::int64_t>(ms * 1e6));
}

void LinkRelay::CutFor(double ms) {
  cutUntilNs_.store(Nanos(Clock::now()) + static_cast<std::int64_t>(ms * 1e6));
}

LinkRelay::Clock::time_point LinkRelay::ConnectedAt() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connectedAt_;
}

void LinkRelay::Run() {
  std::mt19937_64 random(seed_);
  std::unique_ptr<Link> link;
  while (!stop_.load()) {
    if (link == nullptr) {
      const int client = peer::Accept(listener_, 20);
      const int server = client >= 0 ? peer::Connect(targetPort_) : -1;
      if (server < 0) {
        peer::Close(client);
        continue;
      }
      MakeNonBlocking(client);
      MakeNonBlocking(server);
      link = std::make_unique<Link>(client, server);
      std::lock_guard<std::mutex> lock(mutex_);
      connectedAt_ = link->start;
      continue;
    }
    const Clock::time_point now = Clock::now();
    const double sinceMs = MsBetween(link->start, now);
    const bool cut = WithinEvent(profile_.outages, sinceMs) || Nanos(now) < cutUntilNs_.load();
    const bool held =
        cut || WithinEvent(profile_.holds, sinceMs) || Nanos(now) < heldUntilNs_.load();
    pollfd fds[2] = {{link->up.from, 0, 0}, {link->up.to, 0, 0}};
    bool waiting = false;
    for (Direction* direction : {&link->up, &link->down}) {
      pollfd& from = fds[direction == &link->up ? 0 : 1];
      pollfd& to = fds[direction == &link->up ? 1 : 0];
      if (!cut && !direction->ended && direction->queuedBytes < kMaxQueuedBytes) {
        from.events |= POLLIN;
      }
      if (!held && Due(*direction, now)) {
        to.events |= POLLOUT;
      }
      waiting = waiting || !direction->queue.empty();
    }
    // 1 ms steps while anything waits for its time, else 10 ms.
    if (::poll(fds, 2, waiting ? 1 : 10) < 0 && errno != EINTR) {
      link.reset();
      continue;
    }
    if ((fds[0].revents | fds[1].revents) & POLLERR) {
      link->failed = true;
    }
    const Clock::time_point after = Clock::now();
    for (Direction* direction : {&link->up, &link->down}) {
      const pollfd& from = fds[direction == &link->up ? 0 : 1];
      if ((from.events & POLLIN) != 0 && (from.revents & (POLLIN | POLLHUP)) != 0) {
        ReadInto(*direction, after, profile_, random, &link->failed);
      }
      if (!held) {
        Deliver(*direction, after, &link->failed, direction == &link->up ? &delivered_ : nullptr);
      }
    }
    if (link->failed || (link->up.closed && link->down.closed)) {
      link.reset();
    }
  }
}

}  // namespace twtest
