// The drift correction's reader, fed from a ring as the sound server's
// playback callback feeds it, in requests of uneven sizes.
#include "platform/dsound/stretched_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/signal_analysis.h"
#include "tests/support/sound_helpers.h"

namespace {

using twplat::sound::SoundRing;
using twplat::sound::StretchedReader;

constexpr DWORD kLagFrames = 9;  // the interpolation's look-ahead
constexpr DWORD kRequests[] = {37, 441, 1103, 5, 260, 1};
// Both builds of the reader's loop; the widest falls back to the other where
// the processor lacks its vectors.
constexpr StretchedReader::Vectors kVectorSets[] = {StretchedReader::Vectors::kWidest,
                                                    StretchedReader::Vectors::kBaseline};

const char* Name(StretchedReader::Vectors vectors) {
  return vectors == StretchedReader::Vectors::kWidest ? "widest vectors" : "baseline vectors";
}

// A ring holding `bytes` (a whole number of frames) from offset 0.
void Load(SoundRing& ring, const WAVEFORMATEX& format, const std::vector<BYTE>& bytes) {
  ASSERT_TRUE(ring.Allocate(format, static_cast<DWORD>(bytes.size())));
  LPVOID region = nullptr;
  DWORD length = 0;
  ASSERT_EQ(ring.Lock(0, static_cast<DWORD>(bytes.size()), &region, &length, nullptr, nullptr),
            DS_OK);
  std::memcpy(region, bytes.data(), length);
  ASSERT_EQ(ring.Unlock(region, length, nullptr, 0, true), DS_OK);
}

// `frames` frames read in the requests above, over and over; the ring bytes
// taken add up in *taken.
std::vector<BYTE> Read(SoundRing& ring, StretchedReader& reader, DWORD frames, double ratio,
                       DWORD* taken) {
  const DWORD frameBytes = ring.format().nBlockAlign;
  std::vector<BYTE> out(static_cast<size_t>(frames) * frameBytes);
  *taken = 0;
  for (DWORD done = 0, k = 0; done < frames; ++k) {
    const DWORD request = std::min(kRequests[k % std::size(kRequests)], frames - done);
    *taken +=
        reader.Fill(ring, out.data() + static_cast<size_t>(done) * frameBytes, request, ratio);
    done += request;
  }
  return out;
}

// Each channel carries the tone this far ahead of the one before it, so
// that channels mixed up or misplaced show as errors.
constexpr double kChannelPhase = 0.7;
constexpr DWORD kToneFrames = 44100;  // more than the reads take at any ratio used

// Plays `frames` of a tone at `ratio`: the ring gives ratio times the frames
// played, and every channel is the tone stretched in time.
void ExpectStretchedTone(const WAVEFORMATEX& format, double kHz, double ratio,
                         StretchedReader::Vectors vectors, double amplitude, DWORD frames) {
  SoundRing ring;
  Load(ring, format, twtest::SineBytes(format, kHz, amplitude, kToneFrames, kChannelPhase));
  StretchedReader reader;
  ASSERT_TRUE(reader.Allocate(format, vectors));
  DWORD taken = 0;
  const std::vector<BYTE> bytes = Read(ring, reader, frames, ratio, &taken);
  EXPECT_NEAR(taken / static_cast<double>(format.nBlockAlign), frames * ratio, 1.0);
  double worst = 0;
  for (int channel = 0; channel < format.nChannels; ++channel) {
    const std::vector<double> out = twtest::ChannelSamples(bytes, format, channel);
    // From where the kernel's reach lies wholly inside the tone.
    for (size_t k = 2 * kLagFrames; k < out.size(); ++k) {
      const double at = static_cast<double>(k) * ratio - kLagFrames;
      const double ideal =
          amplitude * std::sin(2 * std::numbers::pi * kHz * at / format.nSamplesPerSec +
                               kChannelPhase * channel);
      worst = std::max(worst, std::fabs(out[k] - ideal));
    }
  }
  std::printf("[ measured ] %d ch at %lu Hz, %.0f Hz at %.3f: largest error %.1f dB below\n",
              format.nChannels, static_cast<unsigned long>(format.nSamplesPerSec), kHz, ratio,
              -20 * std::log10(worst / amplitude));
  EXPECT_LT(worst, amplitude * 1e-3);
}

// At a ratio of exactly 1 every sample size and channel count (summed in
// lanes of 1, 2, 4 or 8) comes out bit for bit, extremes included, a fixed
// nine frames late, and the ring gives as much as was played.
TEST(StretchedReader, PassesEverySampleSizeThroughUnchangedAtTheNominalRate) {
  for (const auto& [channels, bits] : {std::pair<WORD, WORD>{2, 8},
                                       {2, 16},
                                       {2, 24},
                                       {2, 32},
                                       {1, 16},
                                       {3, 24},
                                       {6, 16},
                                       {8, 32},
                                       {8, 16}}) {
    for (const StretchedReader::Vectors vectors : kVectorSets) {
      SCOPED_TRACE(testing::Message()
                   << channels << " channels, " << bits << " bits, " << Name(vectors));
      const WAVEFORMATEX format = twtest::PcmFormat(channels, 8000, bits);
      std::vector<BYTE> input(static_cast<size_t>(format.nBlockAlign) * 4000);
      for (size_t i = 0; i < input.size(); ++i) {
        input[i] = static_cast<BYTE>(i % 7 == 0 ? 0xFF : i % 11 == 0 ? 0x00 : i * 37 + i / 5);
      }
      SoundRing ring;
      Load(ring, format, input);
      StretchedReader reader;
      ASSERT_TRUE(reader.Allocate(format, vectors));
      DWORD taken = 0;
      const std::vector<BYTE> out = Read(ring, reader, 3000, 1.0, &taken);
      EXPECT_EQ(taken, 3000u * format.nBlockAlign);
      const size_t lag = kLagFrames * format.nBlockAlign;
      EXPECT_TRUE(std::equal(out.begin() + static_cast<long>(lag), out.end(), input.begin()));
      const BYTE silence = bits == 8 ? 0x80 : 0x00;
      EXPECT_EQ(std::count(out.begin(), out.begin() + static_cast<long>(lag), silence),
                static_cast<long>(lag));
    }
  }
}

// The smallest ring a peer can ask for (a quarter second of 100 Hz mono
// 8-bit: 25 bytes) under requests ten times its size, as a sound server with
// a long queue makes them: the reader stages no more than the ring holds, so
// its frames come round again in order, and the ring gives what was played.
TEST(StretchedReader, StagesNoMoreThanATinyRingHolds) {
  const WAVEFORMATEX format = twtest::PcmFormat(1, 100, 8);
  std::vector<BYTE> input(25);
  for (size_t i = 0; i < input.size(); ++i) {
    input[i] = static_cast<BYTE>(100 + i);
  }
  for (const StretchedReader::Vectors vectors : kVectorSets) {
    SCOPED_TRACE(Name(vectors));
    SoundRing ring;
    Load(ring, format, input);
    StretchedReader reader;
    ASSERT_TRUE(reader.Allocate(format, vectors));
    std::vector<BYTE> out(250);
    EXPECT_EQ(reader.Fill(ring, out.data(), 250, 1.0), 250u);
    for (size_t k = kLagFrames; k < out.size(); ++k) {
      ASSERT_EQ(out[k], input[(k - kLagFrames) % input.size()]) << "frame " << k;
    }
    EXPECT_EQ(reader.Fill(ring, out.data(), 250, 1.005), 251u);
  }
}

// Half a percent faster and slower, in one channel and in eight: the tone
// comes out stretched in time, with no step where a request or the reader's
// staging ends, high tones as clean as low ones.
TEST(StretchedReader, StretchesTonesSmoothlyAtTheCorrectionsLimits) {
  constexpr double kAmplitude = 0.5;
  constexpr DWORD kFrames = 40000;
  for (const auto& [channels, rate, bits] :
       {std::tuple<WORD, DWORD, WORD>{1, 44100, 16}, {8, 192000, 32}}) {
    const WAVEFORMATEX format = twtest::PcmFormat(channels, rate, bits);
    for (const auto& [kHz, ratio] : {std::pair{1000.0, 0.995}, {1000.0, 1.005}, {10000.0, 1.005}}) {
      for (const StretchedReader::Vectors vectors : kVectorSets) {
        SCOPED_TRACE(testing::Message()
                     << format.nChannels << " channels at " << format.nSamplesPerSec << " Hz, "
                     << kHz << " Hz at " << ratio << ", " << Name(vectors));
        ExpectStretchedTone(format, kHz, ratio, vectors, kAmplitude, kFrames);
      }
    }
  }
}

}  // namespace
