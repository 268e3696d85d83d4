#include "core/stream_header.h"

static_assert(sizeof(HeaderImage) == kHeaderBytes, "the wire image is 32 bytes");
static_assert(sizeof(kHeaderMagic) == 8 && sizeof(kInvalidMagic) == 8, "magics are 8 bytes");

namespace {

constexpr DWORD kMagicBytes = 8;

void Put32(unsigned char* at, DWORD value) {
  at[0] = static_cast<unsigned char>(value & 0xff);
  at[1] = static_cast<unsigned char>((value >> 8) & 0xff);
  at[2] = static_cast<unsigned char>((value >> 16) & 0xff);
  at[3] = static_cast<unsigned char>((value >> 24) & 0xff);
}

DWORD Get32(const unsigned char* at) {
  return static_cast<DWORD>(at[0]) | (static_cast<DWORD>(at[1]) << 8) |
         (static_cast<DWORD>(at[2]) << 16) | (static_cast<DWORD>(at[3]) << 24);
}

// A magic as its two little-endian 32-bit words.
DWORD MagicWord(const char* magic, int word) {
  unsigned char bytes[4];
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<unsigned char>(magic[4 * word + i]);
  }
  return Get32(bytes);
}

}  // namespace

HeaderImage EncodeHeader(const StreamHeader& header) {
  HeaderImage image{};
  for (DWORD i = 0; i < kMagicBytes; ++i) {
    image.bytes[i] = static_cast<unsigned char>(header.magic[i]);
  }
  Put32(image.bytes + 8, header.samplesPerSecond);
  Put32(image.bytes + 12, header.channels);
  Put32(image.bytes + 16, header.bitsPerSample);
  Put32(image.bytes + 20, header.averageBytesPerSecond);
  Put32(image.bytes + 24, header.blockAlign);
  Put32(image.bytes + 28, header.blockLength);
  return image;
}

StreamHeader DecodeHeader(const HeaderImage& image) {
  StreamHeader header{};
  for (DWORD i = 0; i < kMagicBytes; ++i) {
    header.magic[i] = static_cast<char>(image.bytes[i]);
  }
  header.samplesPerSecond = Get32(image.bytes + 8);
  header.channels = Get32(image.bytes + 12);
  header.bitsPerSample = Get32(image.bytes + 16);
  header.averageBytesPerSecond = Get32(image.bytes + 20);
  header.blockAlign = Get32(image.bytes + 24);
  header.blockLength = Get32(image.bytes + 28);
  return header;
}

StreamHeader MakeHeader(const WAVEFORMATEX& format, DWORD blockLength) {
  StreamHeader header{};
  for (DWORD i = 0; i < kMagicBytes; ++i) {
    header.magic[i] = kHeaderMagic[i];
  }
  header.samplesPerSecond = format.nSamplesPerSec;
  header.channels = format.nChannels;  // 16-bit members are zero-extended
  header.bitsPerSample = format.wBitsPerSample;
  header.averageBytesPerSecond = format.nAvgBytesPerSec;
  header.blockAlign = format.nBlockAlign;
  header.blockLength = blockLength;
  return header;
}

bool IsValidHeader(const StreamHeader& header) {
  // The magic is compared as two 32-bit words; the outcome equals an
  // 8-byte comparison.
  if (MagicWord(header.magic, 0) != MagicWord(kHeaderMagic, 0) ||
      MagicWord(header.magic, 1) != MagicWord(kHeaderMagic, 1)) {
    return false;
  }
  return header.blockLength >= 1 && header.blockLength <= kMaxBlockLength;
}

void InvalidateHeader(StreamHeader& header) {
  for (DWORD i = 0; i < kMagicBytes; ++i) {
    header.magic[i] = kInvalidMagic[i];
  }
}

// The shared copy keeps the wire image as eight little-endian words: word i
// holds bytes 4i..4i+3. Release stores and acquire loads, so a reader that
// sees a word also sees what the writer did before storing it; a reader may
// still see some words of a header being overwritten next to older ones.

SharedHeader::SharedHeader() {
  words_[0].store(MagicWord(kInvalidMagic, 0), std::memory_order_relaxed);
  words_[1].store(MagicWord(kInvalidMagic, 1), std::memory_order_relaxed);
  for (DWORD i = 2; i < kHeaderBytes / 4; ++i) {
    words_[i].store(0, std::memory_order_relaxed);
  }
}

HeaderImage SharedHeader::Image() const {
  HeaderImage image{};
  for (DWORD i = 0; i < kHeaderBytes / 4; ++i) {
    Put32(image.bytes + 4 * i, words_[i].load(std::memory_order_acquire));
  }
  return image;
}

void SharedHeader::Store(const HeaderImage& image) {
  for (DWORD i = 0; i < kHeaderBytes / 4; ++i) {
    words_[i].store(Get32(image.bytes + 4 * i), std::memory_order_release);
  }
}

void InvalidateHeader(SharedHeader& header) {
  header.words_[0].store(MagicWord(kInvalidMagic, 0), std::memory_order_release);
  header.words_[1].store(MagicWord(kInvalidMagic, 1), std::memory_order_release);
}
