// The drift correction's reader, fed from a ring as the sound server's
// playback callback feeds it, in requests of uneven sizes.
#include "platform/dsound/stretched_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>
#include <vector>

#include "tests/support/signal_analysis.h"

namespace {

using twplat::sound::SoundRing;
using twplat::sound::StretchedReader;

constexpr DWORD kLagFrames = 9;  // the interpolation's look-ahead
constexpr DWORD kRequests[] = {37, 441, 1103, 5, 260, 1};

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
                                       {8, 32}}) {
    SCOPED_TRACE(testing::Message() << channels << " channels, " << bits << " bits");
    const WAVEFORMATEX format = twtest::PcmFormat(channels, 8000, bits);
    std::vector<BYTE> input(static_cast<size_t>(format.nBlockAlign) * 4000);
    for (size_t i = 0; i < input.size(); ++i) {
      input[i] = static_cast<BYTE>(i % 7 == 0 ? 0xFF : i % 11 == 0 ? 0x00 : i * 37 + i / 5);
    }
    SoundRing ring;
    Load(ring, format, input);
    StretchedReader reader;
    ASSERT_TRUE(reader.Allocate(format));
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

// Half a percent faster and slower: the ring gives ratio times the frames
// played, and a tone comes out as the same tone stretched in time, with no
// step where a request or the reader's staging ends, high tones as clean
// as low ones.
TEST(StretchedReader, StretchesTonesSmoothlyAtTheCorrectionsLimits) {
  const WAVEFORMATEX format = twtest::PcmFormat(1, 44100, 16);
  constexpr double kAmplitude = 0.5;
  for (const auto& [kHz, ratio] : {std::pair{1000.0, 0.995}, {1000.0, 1.005}, {10000.0, 1.005}}) {
    SCOPED_TRACE(testing::Message() << kHz << " Hz at " << ratio);
    std::vector<BYTE> input(2 * 44100);
    for (size_t i = 0; i < input.size() / 2; ++i) {
      const auto value = static_cast<std::int16_t>(
          std::lround(32767 * kAmplitude * std::sin(2 * std::numbers::pi * kHz * i / 44100)));
      std::memcpy(&input[2 * i], &value, 2);
    }
    SoundRing ring;
    Load(ring, format, input);
    StretchedReader reader;
    ASSERT_TRUE(reader.Allocate(format));
    constexpr DWORD kFrames = 40000;
    DWORD taken = 0;
    const std::vector<double> out =
        twtest::ChannelSamples(Read(ring, reader, kFrames, ratio, &taken), format, 0);
    EXPECT_NEAR(taken / 2.0, kFrames * ratio, 1.0);
    double worst = 0;
    // From where the kernel's reach lies wholly inside the tone.
    for (size_t k = 2 * kLagFrames; k < out.size(); ++k) {
      const double at = static_cast<double>(k) * ratio - kLagFrames;
      const double ideal = kAmplitude * std::sin(2 * std::numbers::pi * kHz * at / 44100);
      worst = std::max(worst, std::fabs(out[k] - ideal));
    }
    std::printf("[ measured ] %.0f Hz at %.3f: largest error %.1f dB below the tone\n", kHz, ratio,
                -20 * std::log10(worst / kAmplitude));
    EXPECT_LT(worst, kAmplitude * 1e-3);
  }
}

}  // namespace
