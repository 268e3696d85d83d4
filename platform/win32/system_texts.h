// The system's texts for error codes of the layers above the kernel.
#pragma once

#include <cstdint>

namespace twplat {

// The system text of a Winsock error code, ending in "\r\n" as Windows'
// texts do; null for a code that is not a Winsock error the layer knows.
const char* WinsockErrorText(std::uint32_t code);

}  // namespace twplat
