// Decides, right after a connection is accepted and before a byte of it is
// read, whether the Server serves that peer: only peers in the allowed
// networks are. A refused peer is logged, one line per address per minute,
// so that a host knocking in a loop cannot fill the log.
//
// Thread contract: the worker only (one gate per Server run).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "core/peer_networks.h"

class PeerGate {
 public:
  static constexpr std::uint64_t kLogEveryMs = 60000;
  // Addresses remembered within a minute; refusals of further addresses are
  // counted and told in one line a minute.
  static constexpr std::size_t kMostRemembered = 64;

  using LogLine = std::function<void(const std::string&)>;

  // log: where refusal lines go (stderr when empty).
  explicit PeerGate(const AllowedNetworks& allowed, LogLine log = LogLine());

  // True when the peer is served. known is false when the peer's address
  // could not be told (a family other than IPv4 and IPv6): refused unless
  // every address is allowed.
  bool Admit(const PeerAddress& peer, bool known, std::uint64_t nowMs);

 private:
  void LogRefusal(const PeerAddress& peer, bool known, std::uint64_t nowMs);
  void Forget(std::uint64_t nowMs);
  void Write(const std::string& line) const;

  const AllowedNetworks allowed_;
  const LogLine log_;
  std::map<PeerAddress, std::uint64_t> lastLoggedMs_;
  std::uint64_t untold_ = 0;  // refusals not logged on their own line
  std::uint64_t untoldSinceMs_ = 0;
};
