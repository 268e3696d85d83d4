// Linear gain ramps over whole PCM frames in a locked ring span, so that
// sound meeting silence (an underrun) fades instead of clicking.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include "audio/ring_span.h"

struct RampShape {
  LONG frameBytes;   // bytes of one frame
  LONG sampleBytes;  // 1 (unsigned), 2, 3 or 4 (signed little-endian)
  LONG steps;        // frames from silence to full level
  LONG firstStep;    // the ramp step of the span's first frame
  bool rising;       // fade in (step 0 silent) or fade out (step 0 full)
};

// Scales every sample of the span's whole frames; frames past the ramp's
// end are left alone when rising and silenced when falling. Returns the
// steps the span covered.
LONG RampFrames(const RingSpan& span, const RampShape& shape);
