// Whether this machine has a sound server at all, and the one note a
// process prints while the server it waits for is not there.
#pragma once

namespace twplat::sound {

// True when a sound server is installed, running or not: the default device
// and named devices then belong to it, and a stream made while it is away
// waits for it with silence instead of falling back to the built-in devices.
bool PulseInstalled();

// One line on stderr for the capture or playback that goes on with silence,
// the first time since the server was last reached (that it went away, or
// that it is not running yet when it never was); the next ones stay quiet
// until NoteServerBack.
void NoteServerAway(bool capture);
void NoteServerBack();

}  // namespace twplat::sound
