// What tonewire-cli writes: whole lines on stdout or stderr, flushed at once
// (readers sit on pipes), and on a terminal a live bar for the buffer meter
// at the bottom of stderr, taken down while a line is written.
//
// Thread contract: any thread; one lock orders the output.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace twcli {

class Console {
 public:
  explicit Console(bool drawMeter) : drawMeter_(drawMeter) {}
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void Line(std::FILE* stream, const std::string& text);
  // The meter's range and position, as the buffer meter shows them.
  void MeterRange(int low, int high);
  void MeterPosition(int position);

 private:
  void DrawMeterLocked(bool force);
  void EraseMeterLocked();

  const bool drawMeter_;
  std::mutex mutex_;
  int low_ = 0;
  int high_ = 100;
  int position_ = 0;
  bool meterShown_ = false;
  bool meterUsed_ = false;
  unsigned long long lastDrawMs_ = 0;
};

}  // namespace twcli
