#include "cli/line_limiter.h"

#include <cstdio>
#include <iterator>

namespace twcli {
namespace {

constexpr char kOthers[] = "Lines of other kinds";

}  // namespace

std::vector<std::string> LineLimiter::Take(const std::string& line, std::uint64_t nowMs) {
  std::vector<std::string> out;
  auto found = kinds_.find(line);
  if (found != kinds_.end() && nowMs >= found->second.sinceMs + kPeriodMs) {
    EndPeriod(line, found->second, nowMs, &out);
    if (found->second.printed == 0) {
      kinds_.erase(found);
      found = kinds_.end();
    }
  }
  if (found == kinds_.end()) {
    if (kinds_.size() >= kMostKinds) {
      if (others_.held == 0) {
        others_.sinceMs = nowMs;
      }
      ++others_.held;
      return out;
    }
    found = kinds_.emplace(line, Kind{nowMs, 0, 0}).first;
  }
  Kind& kind = found->second;
  if (kind.printed < kBurst) {
    ++kind.printed;
    out.push_back(line);
  } else {
    ++kind.held;
  }
  return out;
}

std::vector<std::string> LineLimiter::Due(std::uint64_t nowMs) {
  std::vector<std::string> out;
  for (auto it = kinds_.begin(); it != kinds_.end();) {
    if (nowMs >= it->second.sinceMs + kPeriodMs) {
      EndPeriod(it->first, it->second, nowMs, &out);
    }
    it = it->second.printed == 0 ? kinds_.erase(it) : std::next(it);
  }
  if (others_.held > 0 && nowMs >= others_.sinceMs + kPeriodMs) {
    out.push_back(Summary(kOthers, others_, nowMs));
    others_ = Kind{};
  }
  return out;
}

std::vector<std::string> LineLimiter::Flush(std::uint64_t nowMs) {
  std::vector<std::string> out;
  for (const auto& [line, kind] : kinds_) {
    if (kind.held > 0) {
      out.push_back(Summary(line, kind, nowMs));
    }
  }
  if (others_.held > 0) {
    out.push_back(Summary(kOthers, others_, nowMs));
  }
  kinds_.clear();
  others_ = Kind{};
  return out;
}

void LineLimiter::EndPeriod(const std::string& line, Kind& kind, std::uint64_t nowMs,
                            std::vector<std::string>* out) {
  if (kind.held == 0) {
    kind = Kind{};  // quiet: the kind starts afresh with its next line
    return;
  }
  out->push_back(Summary(line, kind, nowMs));
  // Still flooding: the next period prints only its summary.
  kind = Kind{nowMs, kBurst, 0};
}

std::string LineLimiter::Summary(const std::string& line, const Kind& kind, std::uint64_t nowMs) {
  char count[80];
  std::snprintf(count, sizeof count, " (%llu more %s in %.1f s)",
                static_cast<unsigned long long>(kind.held), kind.held == 1 ? "time" : "times",
                static_cast<double>(nowMs - kind.sinceMs) / 1000.0);
  return line + count;
}

}  // namespace twcli
