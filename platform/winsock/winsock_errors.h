// The layer's error translation, and how Linux words the causes of its codes.
#pragma once

#include <cstdint>

namespace twsock {

// The Winsock code for an errno value: the one mapping table of the layer.
// An errno without an entry becomes WSASYSCALLFAILURE (10107).
int WsaErrorFromErrno(int error);

// How Linux words the usual cause of a Winsock code ("Connection refused",
// "Name or service not known"); null for a code without one.
const char* LinuxErrorText(std::uint32_t code);

}  // namespace twsock
