// The sound the stream benchmark plays into "Mic", and what it looks for in
// the recording of "Speakers".
//
// Left channel: a steady 500 Hz tone at a tenth of full scale, with a click
// every half second in its place (1 ms at +A, 1 ms at -A). A click's
// amplitude A = 0.25 + 0.1 * (its number modulo 8), so a click heard up to
// 4 s late is still told from the ones before it. Right channel: silence.
// The rig plays the left channel straight into the right channel of
// "Speakers" too, so one recording holds every click twice: sent (right) and
// relayed by the setup under test (left).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace twbench {

inline constexpr int kRate = 44100;
inline constexpr double kToneHz = 500;  // 20 ms hold exactly ten periods
inline constexpr double kToneAmplitude = 0.1;
inline constexpr double kClickPeriodSeconds = 0.5;
inline constexpr int kClickKinds = 8;
inline constexpr double kSoundThreshold = 0.01;  // a tenth of the tone

class ClickTrack {
 public:
  // The next frames, 16-bit little-endian interleaved stereo.
  std::vector<std::uint8_t> Next(size_t frames);

 private:
  double LeftSample(std::uint64_t frame) const;

  std::uint64_t frame_ = 0;
};

struct Click {
  size_t at = 0;  // first sample above the threshold
  int kind = 0;   // its number modulo kClickKinds
};

// Clicks in [from, to) of one channel.
std::vector<Click> FindClicks(const std::vector<double>& samples, size_t from, size_t to);

// Each relayed click with the latest sent click of its kind before it, as a
// delay in ms; relayed clicks with no such partner within 4 s are left out.
std::vector<double> MatchClicks(const std::vector<Click>& sent, const std::vector<Click>& relayed);

// The same, with where each relayed click was heard.
struct ClickDelay {
  size_t at = 0;  // the relayed click's first sample
  double ms = 0;
};
std::vector<ClickDelay> MatchClickDelays(const std::vector<Click>& sent,
                                         const std::vector<Click>& relayed);

// Stretches in [from, to) of the relayed channel where the tone is missing
// or broken. Gaps: 20 ms stretches more than 40 dB below the tone, counted
// once per run of them. Breaks: jumps in the tone's waveform (a repeat, a
// drop or a splice that keeps its level), clicks left out.
struct Continuity {
  int gaps = 0;
  double quietestDb = 0;  // the quietest 20 ms against the tone
  int breaks = 0;
  std::vector<double> gapSeconds;  // where each began, from `from` on
  std::vector<double> breakSeconds;
};
// toneHz and toneAmplitude: of another steady tone than the click track's.
Continuity CheckContinuity(const std::vector<double>& samples, size_t from, size_t to,
                           const std::vector<Click>& clicks, double toneHz = kToneHz,
                           double toneAmplitude = kToneAmplitude);

}  // namespace twbench
