// Which status texts tonewire-cli prints. A Server's status line changes
// with every chunk it receives ("Received CHUNK BYTES", several times a
// second); on a pipe or in a log those become one summary line at most
// every 10 s, with the bytes and the rate, and any summary still owed is
// printed before the next other status. Every other change is printed as
// it comes, unless it repeats faster than a log can take (a peer
// connecting in a loop): see LineLimiter. Verbose output and a terminal get
// every text.
//
// Thread contract: none; the caller orders the calls (CliHost, under its lock).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/line_limiter.h"

namespace twcli {

enum class Verbosity { kQuiet, kNormal, kVerbose };

// True for a Server's per-chunk "Received CHUNK BYTES" text.
bool IsReceivedStatus(const std::string& status);

class StatusFilter {
 public:
  static constexpr std::uint64_t kSummaryEveryMs = 10000;

  // summarise: collapse "Received" texts (a pipe or a log, not verbose).
  StatusFilter(Verbosity verbosity, bool summarise)
      : verbosity_(verbosity), summarise_(summarise) {}

  // The lines to print for a new status text, at nowMs on a steady clock.
  std::vector<std::string> Take(const std::string& status, std::uint64_t nowMs);
  bool quiet() const { return verbosity_ == Verbosity::kQuiet; }
  // The summary still owed, if any (at the end of the program).
  std::vector<std::string> Flush(std::uint64_t nowMs);

  // Another line for stdout that a peer can repeat (the "Client Info" text):
  // limited as status texts are.
  std::vector<std::string> TakeLine(const std::string& line, std::uint64_t nowMs);
  // Summaries of repeated lines whose period has ended.
  std::vector<std::string> Due(std::uint64_t nowMs) { return repeats_.Due(nowMs); }

 private:
  std::string Summary(std::uint64_t nowMs);
  std::vector<std::string> FlushReceived(std::uint64_t nowMs);

  const Verbosity verbosity_;
  const bool summarise_;
  std::string last_;
  bool counting_ = false;
  std::uint64_t bytes_ = 0;
  std::uint64_t sinceMs_ = 0;
  LineLimiter repeats_;  // other texts, on a pipe or in a log
};

}  // namespace twcli
