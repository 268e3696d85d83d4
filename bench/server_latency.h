// What the sound server itself reports about this process's streams: the
// latency of each playback stream (queued in the server plus the sink's) and
// of each capture stream (the source's plus queued in the server).
#pragma once

#include <string>

struct ServerLatency {
  bool known = false;
  double playbackMs = 0;
  double captureMs = 0;
};

// Asks the server at PULSE_SERVER over a connection of its own.
ServerLatency AskServerLatency(std::string* reason);
