#include "cli/console.h"

#include <algorithm>
#include <chrono>

namespace twcli {
namespace {

constexpr int kBarCells = 40;
constexpr unsigned long long kRedrawMs = 50;  // a terminal need not see every position

unsigned long long NowMs() {
  return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now().time_since_epoch())
                                             .count());
}

}  // namespace

Console::~Console() {
  std::lock_guard<std::mutex> lock(mutex_);
  EraseMeterLocked();
}

void Console::Line(std::FILE* stream, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  EraseMeterLocked();
  std::fputs(text.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
  if (meterUsed_) {
    DrawMeterLocked(true);
  }
}

void Console::MeterRange(int low, int high) {
  std::lock_guard<std::mutex> lock(mutex_);
  low_ = low;
  high_ = high;
  meterUsed_ = true;
  DrawMeterLocked(true);
}

void Console::MeterPosition(int position) {
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = position;
  meterUsed_ = true;
  DrawMeterLocked(false);
}

void Console::DrawMeterLocked(bool force) {
  if (!drawMeter_) {
    return;
  }
  const unsigned long long now = NowMs();
  if (!force && now - lastDrawMs_ < kRedrawMs) {
    return;
  }
  lastDrawMs_ = now;
  const long long span = std::max(1LL, static_cast<long long>(high_) - low_);
  const long long offset = std::clamp(static_cast<long long>(position_) - low_, 0LL, span);
  const int filled = static_cast<int>(offset * kBarCells / span);
  std::string bar = "\r\033[KBuffer [" + std::string(filled, '#') +
                    std::string(kBarCells - filled, ' ') + "] " + std::to_string(position_) + "/" +
                    std::to_string(high_);
  std::fputs(bar.c_str(), stderr);
  std::fflush(stderr);
  meterShown_ = true;
}

void Console::EraseMeterLocked() {
  if (!meterShown_) {
    return;
  }
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  meterShown_ = false;
}

}  // namespace twcli
