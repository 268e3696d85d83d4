// The environment variables the platform layer reads, each with its bounds
// and default in one table below, read through one parser. A value that is
// set but out of bounds is rejected with a one-line message on stderr and the
// default is used. docs/environment.md lists them for users; a new variable
// is one more line in the table (and one in that list).
#pragma once

namespace twplat::env {

// A whole number, optionally signed, from minimum to maximum.
struct WholeNumber {
  const char* name;
  long minimum;
  long maximum;
  long fallback;
};

// A switch: a set value is one of the words that turn it on or off.
struct Switch {
  const char* name;
  const char* onWords[2];  // unused entries are null
  const char* offWords[2];
  bool fallback;
};

// The built-in devices' clock runs fast or slow by this many parts per
// million (at most 10 %), so that one machine can stand for two.
inline constexpr WholeNumber kBuiltinClockPpm{"TONEWIRE_BUILTIN_CLOCK_PPM", -100000, 100000, 0};
// The built-in capture device's test tone, in hertz.
inline constexpr WholeNumber kTestToneHz{"TONEWIRE_TEST_TONE_HZ", 20, 20000, 440};
// The sound server streams' buffering, in milliseconds.
inline constexpr WholeNumber kPlaybackQueueMs{"TONEWIRE_PLAYBACK_QUEUE_MS", 1, 2000, 40};
inline constexpr WholeNumber kPlaybackRequestMs{"TONEWIRE_PLAYBACK_REQUEST_MS", 1, 2000, 10};
inline constexpr WholeNumber kCaptureFragmentMs{"TONEWIRE_CAPTURE_FRAGMENT_MS", 1, 2000, 25};
// The Server's rate control, on unless turned off to measure what it
// corrects. The program's playback controller reads it with the same words
// itself (audio/playback_controller.cpp): the program builds for Windows too,
// where this layer is not.
inline constexpr Switch kDriftCorrection{
    "TONEWIRE_DRIFT_CORRECTION", {"on", "1"}, {"off", "0"}, true};
// The built-in devices only, without the sound server: the same runs on
// every machine.
inline constexpr Switch kBuiltinAudioOnly{"TONEWIRE_AUDIO", {"builtin", nullptr}, {}, false};

// The text as a whole number within the variable's bounds; false (value
// untouched) for anything else: empty, a fraction, trailing text, too large.
bool ParseWholeNumber(const char* text, const WholeNumber& variable, long* value);

// The variable's value; its fallback when it is unset or rejected.
long Read(const WholeNumber& variable);
bool Read(const Switch& variable);

}  // namespace twplat::env
