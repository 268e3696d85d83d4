// Takes sound out of a playback ring at `ratio` times the device's rate and
// hands the device whole frames at its own fixed rate: how a buffer made
// with DSBCAPS_CTRLFREQUENCY plays at the frequency set on it (the playback
// controller's way of playing a little faster or slower than the format
// says).
//
// A sound server can resample a variable-rate stream itself, but only in
// whole hertz: 23 ppm steps at 44100 Hz and 125 ppm at 8000 Hz, so a loop
// that holds a queue within a few milliseconds hunts between two rates. Here
// any ratio plays as it is, the server's stream keeps the format's rate (no
// resampler runs in the server when the device shares it), and the ring's
// cursor moves by exactly the frames the interpolation used.
//
// Each output frame is a band-limited (windowed-sinc, 16 frames wide)
// interpolation of the ring's frames around its position, in double
// precision; a cubic through four frames was measured too, and blurred a
// 10 kHz tone to 22 dB of error. At a ratio of exactly 1 the output is the
// input, bit for bit, nine frames (0.2 ms at 44100 Hz) late. A frame's
// channels sit side by side in the window and are weighed a vector at a
// time: four per vector where the processor has 256-bit vectors and fused
// multiply-add, two elsewhere, so that eight channels cost two or four
// vectors per tap.
//
// Device thread only. Allocate before the stream runs; Fill neither
// allocates, locks nor blocks.
#pragma once

#include <mmsystem.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>

#include "platform/dsound/sound_format.h"
#include "platform/dsound/sound_ring.h"

namespace twplat::sound {

class StretchedReader {
 public:
  // kWidest uses the widest vectors the processor has; kBaseline those every
  // 64-bit x86 has (for comparing the two).
  enum class Vectors { kWidest, kBaseline };

  // False when memory is short or the sample size is not 8, 16, 24 or 32.
  bool Allocate(const WAVEFORMATEX& format, Vectors vectors = Vectors::kWidest);

  // Writes `frames` whole frames to out; returns the ring bytes taken.
  DWORD Fill(SoundRing& ring, BYTE* out, DWORD frames, double ratio);

 private:
  static constexpr int kTaps = 16;     // at most
  static constexpr int kPhases = 128;  // kernel rows between two frames
  static constexpr DWORD kStagingFrames = 256;
  // One frame as the window holds it: its channels, then zeros up to the
  // lanes summed.
  using Lanes = std::array<double, kMaxChannels>;

  // The same loop built twice: for every processor, and for one with 256-bit
  // vectors and fused multiply-add.
  DWORD FillBaseline(SoundRing& ring, BYTE* out, DWORD frames, double ratio);
  DWORD FillWide(SoundRing& ring, BYTE* out, DWORD frames, double ratio);
  template <typename Vector, int kVectors>
  DWORD FillVectors(SoundRing& ring, BYTE* out, DWORD frames, double ratio);
  template <typename Vector, int kVectors>
  void Interpolate(double* result) const;
  DWORD Stage(SoundRing& ring, DWORD wanted);
  void Advance(SoundRing& ring, DWORD& taken, std::uint64_t& pending);
  void Decode(const BYTE* in, DWORD frames);
  void Encode(DWORD frames, BYTE* out) const;
  bool FullLanes() const;

  WORD channels_ = 0;
  bool wide_ = false;  // FillWide runs here
  WORD sampleBytes_ = 0;
  WORD frameBytes_ = 0;
  bool padded_ = false;  // frames wider than their samples: the rest stays zero
  double top_ = 0;       // full scale of a sample
  std::unique_ptr<BYTE[]> staging_;
  std::unique_ptr<Lanes[]> decoded_;  // staging_'s frames as the window holds them
  // Output frames before they are encoded, kMaxChannels lanes each: summed,
  // then rounded.
  std::unique_ptr<double[]> mixed_;
  std::unique_ptr<std::int32_t[]> rounded_;
  DWORD staged_ = 0;  // frames in staging_
  DWORD next_ = 0;    // the next staged frame to enter the window
  // kPhases rows, each kTaps weights and then kTaps rises: row p's weights
  // are for a position p / kPhases of the way from frame 0 to frame 1, and
  // its rises take them to row p + 1's.
  std::unique_ptr<double[]> kernel_;
  // The last kTaps frames, twice over, so that the window is always one
  // run: history_[head_ .. head_ + kTaps). The output lies between window
  // frames kTaps / 2 - 1 and kTaps / 2, `position_` of the way.
  std::array<Lanes, 2 * kTaps> history_{};
  int head_ = 0;
  double position_ = 0;
};

}  // namespace twplat::sound
