// The 32-byte record that opens every connection: magic, five format fields
// and the block length, each numeric field an unsigned 32-bit little-endian
// integer. It is encoded and decoded field by field, never copied as a struct.
#pragma once

#include <windows.h>

#include <mmsystem.h>  // after windows.h, as the SDK needs

#include <atomic>
#include <cstdint>

inline constexpr DWORD kHeaderBytes = 32;
inline constexpr DWORD kBlockBytes = 24576;        // 0x6000
inline constexpr DWORD kMaxBlockLength = 4096000;  // 0x3E8000
inline constexpr char kHeaderMagic[8] = {'V', 'O', 'R', 'T', 'E', 'L', 'I', 'N'};
inline constexpr char kInvalidMagic[8] = {'B', 'O', 'G', 'U', 'S', 'S', 'T', 'R'};

// The wire image, byte for byte.
struct HeaderImage {
  unsigned char bytes[kHeaderBytes];
};

// The decoded record.
struct StreamHeader {
  char magic[8];
  DWORD samplesPerSecond;
  DWORD channels;
  DWORD bitsPerSample;
  DWORD averageBytesPerSecond;
  DWORD blockAlign;
  DWORD blockLength;
};

HeaderImage EncodeHeader(const StreamHeader& header);
StreamHeader DecodeHeader(const HeaderImage& image);

StreamHeader MakeHeader(const WAVEFORMATEX& format, DWORD blockLength);
bool IsValidHeader(const StreamHeader& header);
void InvalidateHeader(StreamHeader& header);

// The one process-wide copy of the last header received, shared by the worker
// (which writes it) and the window (which reads it for "Client Info"). It
// holds the wire image in eight atomic 32-bit words, so a reader never races a
// writer; a reader may see a header that a new connection is overwriting.
class SharedHeader {
 public:
  SharedHeader();  // invalid magic, every other field 0

  HeaderImage Image() const;
  void Store(const HeaderImage& image);
  StreamHeader Get() const { return DecodeHeader(Image()); }

 private:
  friend void InvalidateHeader(SharedHeader& header);
  std::atomic<std::uint32_t> words_[kHeaderBytes / 4];
};

// Writes the invalid magic, keeps the other 24 bytes.
void InvalidateHeader(SharedHeader& header);
