// The format a Client announces from a CD-quality device: 44100 Hz, 2
// channels, 16 bits (4-byte frames, 176400 bytes a second).
#pragma once

#include <windows.h>

#include <mmsystem.h>  // after windows.h, as the SDK needs

#include "core/stream_header.h"

namespace twtest {

inline WAVEFORMATEX CdFormat() { return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}; }

// The header a Client sends for CdFormat() and blocks of blockLength bytes.
inline StreamHeader CdHeader(DWORD blockLength) { return MakeHeader(CdFormat(), blockLength); }

}  // namespace twtest
