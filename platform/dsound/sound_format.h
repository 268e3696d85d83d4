// What a sound buffer may be: the PCM formats every device here can take,
// and the ring sizes the engine is willing to allocate.
#pragma once

#include <dsound.h>
#include <windows.h>

namespace twplat::sound {

// 7.1 is the widest layout a stream carries in practice.
inline constexpr WORD kMaxChannels = 8;
// The sound server's own ceiling; the floor is the one the Windows headers give.
inline constexpr DWORD kMinSamplesPerSec = DSBFREQUENCY_MIN;
inline constexpr DWORD kMaxSamplesPerSec = 384000;
// A quarter second of the widest format (8 channels, 32 bits, 384 kHz) is
// 3 MB; 16 MB leaves room for a few seconds of it and still keeps a format
// that arrives from the network from making the engine take a large block.
inline constexpr DWORD kMaxBufferBytes = 16u * 1024u * 1024u;

// DS_OK, or the code a device gives for a buffer it cannot make:
// DSERR_INVALIDPARAM for a malformed record (missing, zero or inconsistent
// fields, a size above kMaxBufferBytes or below DSBSIZE_MIN or one frame) and
// DSERR_BADFORMAT for a well-formed format outside what the devices take.
HRESULT CheckBufferFormat(const WAVEFORMATEX* format, DWORD bufferBytes);

// A capabilities record the caller hands in to be filled: there, and of the
// size of the record this system fills.
template <typename Caps>
bool CapsRecordKnown(const Caps* caps) {
  return caps != nullptr && caps->dwSize == sizeof(Caps);
}

// The byte value of silence: 8-bit PCM is unsigned, wider PCM signed.
inline BYTE SilenceByte(WORD bitsPerSample) { return bitsPerSample == 8 ? 0x80 : 0x00; }

}  // namespace twplat::sound
