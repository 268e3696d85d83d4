// Arbitrary 32-byte images through the header decoder: decoding then
// encoding gives back the same bytes, and the acceptance rule agrees with a
// plain reading of the wire image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/stream_header.h"

namespace {

std::uint32_t WordAt(const unsigned char* bytes, size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  HeaderImage image = {};
  std::memcpy(image.bytes, data, size < kHeaderBytes ? size : kHeaderBytes);
  const StreamHeader header = DecodeHeader(image);
  const HeaderImage again = EncodeHeader(header);
  if (std::memcmp(image.bytes, again.bytes, kHeaderBytes) != 0) {
    std::abort();
  }
  const std::uint32_t blockLength = WordAt(image.bytes, 28);
  const bool expected = std::memcmp(image.bytes, kHeaderMagic, 8) == 0 && blockLength >= 1 &&
                        blockLength <= kMaxBlockLength;
  if (IsValidHeader(header) != expected) {
    std::abort();
  }
  return 0;
}
