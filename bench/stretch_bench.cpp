// CPU time of the drift correction's reader per second of sound it plays, at
// a ratio the correction uses against a 2000 ppm faster sender, for the CD
// format and the widest one a Server meets, with the widest vectors this
// processor has and with those every 64-bit x86 has.
//
// Prints a table and asserts nothing.
#include <time.h>

#include <cstdio>

#include "platform/dsound/stretched_reader.h"

namespace {

using twplat::sound::SoundRing;
using twplat::sound::StretchedReader;

constexpr double kRatio = 1.002;
constexpr double kSoundSeconds = 20;
constexpr DWORD kRequestFrames = 1103;  // a 25 ms request at 44100 Hz

double ThreadCpuSeconds() {
  timespec now = {};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Milliseconds of CPU per second of sound; negative when it cannot run.
double MsPerSecond(DWORD rate, WORD channels, WORD bits, StretchedReader::Vectors vectors) {
  const auto blockAlign = static_cast<WORD>(channels * bits / 8);
  const WAVEFORMATEX format = {WAVE_FORMAT_PCM, channels, rate, rate * blockAlign,
                               blockAlign,      bits,     0};
  SoundRing ring;
  StretchedReader reader;
  if (!ring.Allocate(format, format.nAvgBytesPerSec / 4) || !reader.Allocate(format, vectors)) {
    return -1;
  }
  static BYTE out[kRequestFrames * 8 * 4 * 8];
  const DWORD request = kRequestFrames * (rate / 44100 > 0 ? rate / 44100 : 1);
  const auto frames = static_cast<DWORD>(kSoundSeconds * rate);
  const double from = ThreadCpuSeconds();
  for (DWORD done = 0; done < frames; done += request) {
    reader.Fill(ring, out, request, kRatio);
  }
  return (ThreadCpuSeconds() - from) * 1000 / kSoundSeconds;
}

}  // namespace

int main() {
  std::printf("drift correction's reader at ratio %.3f, CPU per second of sound\n", kRatio);
  std::printf("%8s %8s %5s %12s %12s\n", "rate", "channels", "bits", "widest ms/s",
              "baseline ms/s");
  const struct {
    DWORD rate;
    WORD channels;
    WORD bits;
  } formats[] = {{44100, 2, 16}, {48000, 2, 16}, {192000, 8, 32}};
  for (const auto& format : formats) {
    std::printf(
        "%8lu %8u %5u %12.2f %12.2f\n", static_cast<unsigned long>(format.rate), format.channels,
        format.bits,
        MsPerSecond(format.rate, format.channels, format.bits, StretchedReader::Vectors::kWidest),
        MsPerSecond(format.rate, format.channels, format.bits,
                    StretchedReader::Vectors::kBaseline));
  }
  return 0;
}
