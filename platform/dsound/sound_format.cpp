#include "platform/dsound/sound_format.h"

#include <cstdint>

namespace twplat::sound {
namespace {

bool IsSupportedSampleSize(WORD bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

bool FieldsAreConsistent(const WAVEFORMATEX& format) {
  const std::uint64_t frameBytes =
      static_cast<std::uint64_t>(format.nChannels) * format.wBitsPerSample / 8;
  const std::uint64_t bytesPerSecond =
      static_cast<std::uint64_t>(format.nSamplesPerSec) * format.nBlockAlign;
  return format.wBitsPerSample % 8 == 0 && format.nBlockAlign == frameBytes &&
         format.nAvgBytesPerSec == bytesPerSecond;
}

}  // namespace

HRESULT CheckBufferFormat(const WAVEFORMATEX* format, DWORD bufferBytes) {
  if (format == nullptr) {
    return DSERR_INVALIDPARAM;
  }
  if (format->wFormatTag != WAVE_FORMAT_PCM) {
    return DSERR_BADFORMAT;
  }
  if (format->nChannels == 0 || format->nSamplesPerSec == 0 || format->wBitsPerSample == 0) {
    return DSERR_INVALIDPARAM;
  }
  if (!IsSupportedSampleSize(format->wBitsPerSample)) {
    return DSERR_BADFORMAT;
  }
  if (!FieldsAreConsistent(*format)) {
    return DSERR_INVALIDPARAM;
  }
  if (format->nChannels > kMaxChannels || format->nSamplesPerSec < kMinSamplesPerSec ||
      format->nSamplesPerSec > kMaxSamplesPerSec) {
    return DSERR_BADFORMAT;
  }
  if (bufferBytes < DSBSIZE_MIN || bufferBytes < format->nBlockAlign ||
      bufferBytes > kMaxBufferBytes) {
    return DSERR_INVALIDPARAM;
  }
  return DS_OK;
}

}  // namespace twplat::sound
