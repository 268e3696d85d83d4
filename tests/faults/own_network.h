// This test program runs in a network namespace of its own, entered before
// main: its loopback can be taken down to make a peer's host vanish without
// touching the machine's network. Nothing here reaches beyond 127.0.0.1.
//
// No system header is included, so a test source with <winsock2.h> can
// include this one.
#pragma once

namespace twtest {

// True when the namespace was entered and its loopback is up.
bool InOwnNetwork();
// Brings the namespace's loopback up or down; false on failure.
bool SetLoopbackUp(bool up);

}  // namespace twtest
