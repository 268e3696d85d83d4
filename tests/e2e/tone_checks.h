// Measurements on one channel of a recorded steady tone, samples in -1 .. 1
// of full scale: where the sound starts, the quietest short stretch, the
// largest break in the waveform, and which source sample each stretch holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace twtest {

inline constexpr int kRecordRate = 44100;

// One channel (0 = left) of 16-bit interleaved stereo PCM.
std::vector<double> StereoChannel(const std::vector<std::uint8_t>& pcm, int channel);

// A span of samples, [from, from + count).
struct Span {
  size_t from = 0;
  size_t count = 0;
};

// The first index whose magnitude exceeds threshold, at or after from;
// samples.size() when there is none.
size_t FirstAbove(const std::vector<double>& samples, double threshold, size_t from = 0);

double RmsOf(const std::vector<double>& samples, Span span);
double DecibelsOf(double ratio);

// The quietest window of windowSamples in the span: its level in dB against
// referenceRms, and where it starts.
struct Stretch {
  double levelDb = 0;
  size_t at = 0;
};
Stretch QuietestStretch(const std::vector<double>& samples, Span span, size_t windowSamples,
                        double referenceRms);

// Every stretch of the span where windows of windowSamples stay below
// floorDb against referenceRms (a gap), as its start; windows that overlap
// or touch count as one gap.
std::vector<size_t> QuietStretchesBelow(const std::vector<double>& samples, Span span,
                                        size_t windowSamples, double referenceRms, double floorDb);

// A sine of frequency f obeys x[n+1] + x[n-1] = 2 cos(2 pi f / rate) x[n];
// what is left over measures a break in it: a jump, a repeat or a dropped
// stretch. The largest leftover in the span, and where, as a fraction of
// full scale. A clean 16-bit sine leaves a few steps of the last bit.
struct Break {
  double size = 0;
  size_t at = 0;
};
Break LargestBreak(const std::vector<double>& samples, Span span, double frequencyHz);

// Every break above threshold in the span, as sample indices; leftovers
// within `apart` samples of the last one found count as the same break.
std::vector<size_t> BreaksAbove(const std::vector<double>& samples, Span span, double frequencyHz,
                                double threshold, size_t apart);

// Which of the source's samples a recording holds, followed through a steady
// tone of `hz` and `amplitude`: every stepFrames from frame `first` on, the
// offset n - f of the source's sample index n from the recorded frame f
// (measured at the middle of a 25 ms window), taking the source's sample 0
// to lie within half a period of frame `first`. The tone's phase gives the
// offset only modulo a period; whole periods are followed from step to
// step, so a step must move it by well under half a period. Where the tone
// is below half its level the last offset stands.
struct ToneOffset {
  size_t frame = 0;
  double offset = 0;
};
std::vector<ToneOffset> FollowToneOffsets(const std::vector<double>& samples, size_t first,
                                          double hz, double amplitude, size_t stepFrames);

}  // namespace twtest
