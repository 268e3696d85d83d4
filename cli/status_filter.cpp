#include "cli/status_filter.h"

#include <cstdio>
#include <utility>

namespace twcli {
namespace {

// The receiver's text: chunks received so far in this connection (counted
// from 0) and the bytes of the latest one.
bool ParseReceived(const std::string& status, std::uint64_t* bytes) {
  int chunk = 0;
  int count = 0;
  char rest = 0;
  if (std::sscanf(status.c_str(), "Received %d %d%c", &chunk, &count, &rest) != 2 || count < 0) {
    return false;
  }
  *bytes = static_cast<std::uint64_t>(count);
  return true;
}

}  // namespace

bool IsReceivedStatus(const std::string& status) {
  std::uint64_t bytes = 0;
  return ParseReceived(status, &bytes);
}

std::vector<std::string> StatusFilter::Take(const std::string& status, std::uint64_t nowMs) {
  if (verbosity_ == Verbosity::kQuiet || status == last_) {
    return {};
  }
  last_ = status;
  std::uint64_t bytes = 0;
  if (!summarise_ || verbosity_ == Verbosity::kVerbose || !ParseReceived(status, &bytes)) {
    std::vector<std::string> lines = FlushReceived(nowMs);
    for (std::string& line : TakeLine(status, nowMs)) {
      lines.push_back(std::move(line));
    }
    return lines;
  }
  if (!counting_) {
    // The period starts with the first chunk of a stretch, which is counted.
    counting_ = true;
    sinceMs_ = nowMs;
    bytes_ = 0;
  }
  bytes_ += bytes;
  if (nowMs - sinceMs_ < kSummaryEveryMs) {
    return {};
  }
  // The next period starts now, so that the rate covers the time between.
  std::vector<std::string> lines = {Summary(nowMs)};
  sinceMs_ = nowMs;
  bytes_ = 0;
  return lines;
}

std::vector<std::string> StatusFilter::FlushReceived(std::uint64_t nowMs) {
  const bool owed = counting_ && bytes_ > 0;
  counting_ = false;
  if (!owed) {
    return {};
  }
  return {Summary(nowMs)};
}

std::vector<std::string> StatusFilter::Flush(std::uint64_t nowMs) {
  std::vector<std::string> lines = FlushReceived(nowMs);
  for (std::string& line : repeats_.Flush(nowMs)) {
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> StatusFilter::TakeLine(const std::string& line, std::uint64_t nowMs) {
  if (!summarise_ || verbosity_ == Verbosity::kVerbose) {
    return {line};
  }
  return repeats_.Take(line, nowMs);
}

std::string StatusFilter::Summary(std::uint64_t nowMs) {
  const std::uint64_t ms = nowMs - sinceMs_;
  char line[160];
  if (ms == 0) {
    std::snprintf(line, sizeof line, "Received %llu bytes",
                  static_cast<unsigned long long>(bytes_));
  } else {
    const double seconds = static_cast<double>(ms) / 1000.0;
    std::snprintf(line, sizeof line, "Received %llu bytes in %.1f s (%.0f bytes/s)",
                  static_cast<unsigned long long>(bytes_), seconds,
                  static_cast<double>(bytes_) / seconds);
  }
  return line;
}

}  // namespace twcli
