#include "net/peer_gate.h"

#include <cstdio>
#include <iterator>
#include <utility>

PeerGate::PeerGate(const AllowedNetworks& allowed, LogLine log)
    : allowed_(allowed), log_(std::move(log)) {}

bool PeerGate::Admit(const PeerAddress& peer, bool known, std::uint64_t nowMs) {
  if (allowed_.AllowsEvery() || (known && allowed_.Allows(peer))) {
    return true;
  }
  LogRefusal(peer, known, nowMs);
  return false;
}

void PeerGate::LogRefusal(const PeerAddress& peer, bool known, std::uint64_t nowMs) {
  Forget(nowMs);
  const bool loggedLately = known && lastLoggedMs_.count(peer) != 0;
  if (known && !loggedLately && lastLoggedMs_.size() < kMostRemembered) {
    lastLoggedMs_[peer] = nowMs;
    Write("Refused a connection from " + PeerAddressText(peer) + " (not in the allowed networks)");
  } else if (!loggedLately) {
    if (untold_ == 0) {
      untoldSinceMs_ = nowMs;
    }
    ++untold_;
  }
  if (untold_ > 0 && nowMs >= untoldSinceMs_ + kLogEveryMs) {
    Write("Refused " + std::to_string(untold_) +
          " more connections from other addresses in the last minute");
    untold_ = 0;
  }
}

void PeerGate::Write(const std::string& line) const {
  if (log_) {
    log_(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

// Addresses last logged a minute ago or more may be logged again.
void PeerGate::Forget(std::uint64_t nowMs) {
  for (auto it = lastLoggedMs_.begin(); it != lastLoggedMs_.end();) {
    it = nowMs >= it->second + kLogEveryMs ? lastLoggedMs_.erase(it) : std::next(it);
  }
}
