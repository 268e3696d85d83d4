// Keeps lines that a peer can repeat at will (a status per connection, a
// box per refused header) from flooding a log. Each kind of line (its text)
// is printed as it comes the first kBurst times; after that, one summary
// line every kPeriodMs counts the ones held back ("Got config (512 more
// times in 10.0 s)"). A kind that was quiet for a period starts afresh.
//
// Thread contract: none; the caller orders the calls (CliHost, under its lock).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace twcli {

class LineLimiter {
 public:
  static constexpr std::uint64_t kPeriodMs = 10000;
  static constexpr int kBurst = 2;
  // Kinds told apart at once; lines of further kinds are counted together.
  static constexpr std::size_t kMostKinds = 32;

  // The lines to print for line at nowMs on a steady clock: the line, a
  // summary of its kind's last period, or nothing.
  std::vector<std::string> Take(const std::string& line, std::uint64_t nowMs);
  // The summaries of periods that have ended by nowMs.
  std::vector<std::string> Due(std::uint64_t nowMs);
  // Every summary still owed (at the end of the program).
  std::vector<std::string> Flush(std::uint64_t nowMs);

 private:
  struct Kind {
    std::uint64_t sinceMs = 0;
    int printed = 0;
    std::uint64_t held = 0;
  };

  static std::string Summary(const std::string& line, const Kind& kind, std::uint64_t nowMs);
  // Ends the kind's period: its summary if it held lines back; then a
  // period that goes on counting (held lines) or none (a quiet one).
  void EndPeriod(const std::string& line, Kind& kind, std::uint64_t nowMs,
                 std::vector<std::string>* out);

  std::map<std::string, Kind> kinds_;
  Kind others_;  // lines of kinds beyond kMostKinds
};

}  // namespace twcli
