// The stream header: the wire image, the acceptance rule, the invalid marker and the
// shared copy.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "core/app_state.h"
#include "core/stream_header.h"
#include "tests/support/cd_format.h"

namespace {

using twtest::CdFormat;

StreamHeader ValidHeader() { return twtest::CdHeader(kBlockBytes); }

}  // namespace

TEST(StreamHeaderWire, CdQualityHeaderMatchesItsWireImageByteForByte) {
  const unsigned char expected[kHeaderBytes] = {
      'V',  'O',  'R',  'T',  'E', 'L', 'I', 'N',  // magic, reading order
      0x44, 0xAC, 0x00, 0x00,                      // 44100
      0x02, 0x00, 0x00, 0x00,                      // 2 channels
      0x10, 0x00, 0x00, 0x00,                      // 16 bits
      0x10, 0xB1, 0x02, 0x00,                      // 176400 bytes per second
      0x04, 0x00, 0x00, 0x00,                      // block align 4
      0x00, 0x60, 0x00, 0x00,                      // block length 24576
  };
  HeaderImage image = EncodeHeader(ValidHeader());
  EXPECT_EQ(0, std::memcmp(image.bytes, expected, kHeaderBytes));
  // Byte 8 is the least significant byte of samplesPerSecond.
  EXPECT_EQ(0x44, image.bytes[8]);
}

TEST(StreamHeaderWire, DecodeReadsWhatEncodeWrote) {
  StreamHeader header{};
  std::memcpy(header.magic, "ABCDEFGH", 8);
  header.samplesPerSecond = 0x01020304;
  header.channels = 0xFFFFFFFF;
  header.bitsPerSample = 0x80000000;
  header.averageBytesPerSecond = 7;
  header.blockAlign = 0x00010000;
  header.blockLength = 0xDEADBEEF;
  StreamHeader back = DecodeHeader(EncodeHeader(header));
  EXPECT_EQ(0, std::memcmp(back.magic, "ABCDEFGH", 8));
  EXPECT_EQ(header.samplesPerSecond, back.samplesPerSecond);
  EXPECT_EQ(header.channels, back.channels);
  EXPECT_EQ(header.bitsPerSample, back.bitsPerSample);
  EXPECT_EQ(header.averageBytesPerSecond, back.averageBytesPerSecond);
  EXPECT_EQ(header.blockAlign, back.blockAlign);
  EXPECT_EQ(header.blockLength, back.blockLength);
}

TEST(StreamHeaderWire, MakeHeaderCopiesTheFormatAndZeroExtends16BitMembers) {
  WAVEFORMATEX format = CdFormat();
  format.nChannels = 0xFFFF;
  format.wBitsPerSample = 0x8000;
  format.nBlockAlign = 0xFFFE;
  format.wFormatTag = 0x1234;  // not transmitted
  format.cbSize = 0x5678;      // not transmitted
  StreamHeader header = MakeHeader(format, 1000);
  EXPECT_EQ(0, std::memcmp(header.magic, kHeaderMagic, 8));
  EXPECT_EQ(44100u, header.samplesPerSecond);
  EXPECT_EQ(0x0000FFFFu, header.channels);
  EXPECT_EQ(0x00008000u, header.bitsPerSample);
  EXPECT_EQ(176400u, header.averageBytesPerSecond);
  EXPECT_EQ(0x0000FFFEu, header.blockAlign);
  EXPECT_EQ(1000u, header.blockLength);
}

TEST(StreamHeaderAcceptance, BlockLengthBoundariesAreUnsigned) {
  struct Case {
    DWORD blockLength;
    bool accepted;
  };
  const Case cases[] = {
      {0, false},          {1, true},           {4096000, true},
      {4096001, false},    {0xFFFFFFFF, false}, {0x80000000, false},  // negative as a signed number
      {kBlockBytes, true},
  };
  for (const Case& c : cases) {
    StreamHeader header = ValidHeader();
    header.blockLength = c.blockLength;
    EXPECT_EQ(c.accepted, IsValidHeader(header)) << "blockLength " << c.blockLength;
  }
}

TEST(StreamHeaderAcceptance, OneWrongMagicByteAnywhereIsRejected) {
  for (int position = 0; position < 8; ++position) {
    StreamHeader header = ValidHeader();
    header.magic[position] = static_cast<char>(header.magic[position] ^ 0x20);  // case flip
    EXPECT_FALSE(IsValidHeader(header)) << "byte " << position;
    header.magic[position] = 0;
    EXPECT_FALSE(IsValidHeader(header)) << "byte " << position;
  }
}

TEST(StreamHeaderAcceptance, InvalidMarkerIsRejected) {
  StreamHeader header = ValidHeader();
  std::memcpy(header.magic, "BOGUSSTR", 8);
  EXPECT_FALSE(IsValidHeader(header));
}

TEST(StreamHeaderAcceptance, FormatFieldsAreNotExamined) {
  StreamHeader header = ValidHeader();
  header.samplesPerSecond = 0;
  header.channels = 0;
  header.bitsPerSample = 0;
  header.averageBytesPerSecond = 0;
  header.blockAlign = 0;
  EXPECT_TRUE(IsValidHeader(header));
  header.channels = 0xFFFFFFFF;
  EXPECT_TRUE(IsValidHeader(header));
}

TEST(StreamHeaderInvalidation, WritesTheMarkerAndKeepsTheRest) {
  StreamHeader header = ValidHeader();
  InvalidateHeader(header);
  EXPECT_EQ(0, std::memcmp(header.magic, "BOGUSSTR", 8));
  EXPECT_EQ(44100u, header.samplesPerSecond);
  EXPECT_EQ(2u, header.channels);
  EXPECT_EQ(16u, header.bitsPerSample);
  EXPECT_EQ(176400u, header.averageBytesPerSecond);
  EXPECT_EQ(4u, header.blockAlign);
  EXPECT_EQ(kBlockBytes, header.blockLength);
  EXPECT_FALSE(IsValidHeader(header));
}

TEST(SharedHeaderState, StartsAsMarkerAndZeros) {
  SharedHeader shared;
  HeaderImage image = shared.Image();
  EXPECT_EQ(0, std::memcmp(image.bytes, "BOGUSSTR", 8));
  for (DWORD i = 8; i < kHeaderBytes; ++i) {
    EXPECT_EQ(0, image.bytes[i]) << "byte " << i;
  }
  EXPECT_FALSE(IsValidHeader(shared.Get()));
}

TEST(SharedHeaderState, ProcessWideCopyNeverPassesAtStart) {
  // No test in this program stores into appState.currentHeader.
  EXPECT_FALSE(IsValidHeader(appState.currentHeader.Get()));
  EXPECT_EQ(0, std::memcmp(appState.currentHeader.Image().bytes, "BOGUSSTR", 8));
}

TEST(SharedHeaderState, StoreAndImageKeepTheWireImage) {
  SharedHeader shared;
  HeaderImage image = EncodeHeader(ValidHeader());
  shared.Store(image);
  HeaderImage back = shared.Image();
  EXPECT_EQ(0, std::memcmp(back.bytes, image.bytes, kHeaderBytes));
  EXPECT_TRUE(IsValidHeader(shared.Get()));
}

TEST(SharedHeaderState, InvalidateKeepsTheOther24Bytes) {
  SharedHeader shared;
  HeaderImage image = EncodeHeader(ValidHeader());
  shared.Store(image);
  InvalidateHeader(shared);
  HeaderImage back = shared.Image();
  EXPECT_EQ(0, std::memcmp(back.bytes, "BOGUSSTR", 8));
  EXPECT_EQ(0, std::memcmp(back.bytes + 8, image.bytes + 8, 24));
}

// The receiver's partial read: a local image pre-loaded from the shared
// copy, overwritten only where bytes arrived, stored back. A valid magic over
// the marker with the old block length in place passes again.
TEST(SharedHeaderState, PartialOverwriteKeepsOlderBytes) {
  SharedHeader shared;
  shared.Store(EncodeHeader(ValidHeader()));
  InvalidateHeader(shared);
  HeaderImage local = shared.Image();
  std::memcpy(local.bytes, "VORTELIN\x22\x56", 10);  // 10 bytes arrived: magic and 2 more
  shared.Store(local);
  StreamHeader header = shared.Get();
  EXPECT_EQ(0x00005622u, header.samplesPerSecond);
  EXPECT_EQ(kBlockBytes, header.blockLength);
  EXPECT_TRUE(IsValidHeader(header));
}

// Run under TSan: a writer storing whole images and a reader decoding them
// share the record without a data race. Words may mix two images.
TEST(SharedHeaderState, ConcurrentReaderNeverRaces) {
  SharedHeader shared;
  std::atomic<bool> started{false};
  std::atomic<bool> done{false};
  std::thread writer([&] {
    while (!started.load()) {
      std::this_thread::yield();
    }
    StreamHeader a = ValidHeader();
    StreamHeader b = ValidHeader();
    b.samplesPerSecond = 48000;
    for (int i = 0; i < 20000; ++i) {
      shared.Store(EncodeHeader((i % 2) != 0 ? a : b));
      if (i % 1000 == 0) {
        InvalidateHeader(shared);
      }
    }
    done.store(true);
  });
  int reads = 0;
  started.store(true);
  do {
    StreamHeader header = shared.Get();
    EXPECT_TRUE(header.samplesPerSecond == 0 || header.samplesPerSecond == 44100 ||
                header.samplesPerSecond == 48000);
    ++reads;
  } while (!done.load());
  writer.join();
  EXPECT_GT(reads, 0);
}
