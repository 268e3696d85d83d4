// The layer's error translation and texts, for FormatMessageA and the tests.
#pragma once

#include <cstdint>

namespace twsock {

// The Winsock code for an errno value: the one mapping table of the layer.
// An errno without an entry becomes WSASYSCALLFAILURE (10107).
int WsaErrorFromErrno(int error);

// The system text of a Winsock error code, ending in "\r\n" as Windows'
// texts do; null for a code that is not a Winsock error the layer knows.
const char* WinsockErrorText(std::uint32_t code);

// How Linux words the usual cause of a Winsock code ("Connection refused",
// "Name or service not known"); null for a code without one.
const char* LinuxErrorText(std::uint32_t code);

}  // namespace twsock
