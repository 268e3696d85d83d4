// The sound server's own tools and the loopback network, as the
// whole-program tests and the stream benchmark use them. Every tool talks to
// the server at PULSE_SERVER.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/stall_watch.h"
#include "tests/support/child_process.h"

namespace twtest {

// 44100 Hz, 2 channels, 16 bits: what the Client sends and what the tools
// record and play.
inline constexpr int kFrameBytes = 4;
inline constexpr int kBytesPerSecond = 44100 * kFrameBytes;

// pactl with these arguments, to its end; false when it failed.
bool Pactl(const std::vector<std::string>& arguments, std::string* output = nullptr);

// The server module's index, for unloading it; -1 when not loaded.
int LoadModule(const std::vector<std::string>& arguments);
void UnloadModule(int index);

// A steady sine tone (half of full scale) into the sink for the rest of the
// test program: the server's sine generator where it has one (PulseAudio's
// module-sine), else pacat fed a looped second of tone from a thread of its
// own (PipeWire's front end has no generator). False when neither starts.
bool PlayToneInto(const std::string& sink, int hz);

// parec: raw PCM of the source on stdout, fragments of latencyMs (0: the
// tool's default).
ChildOptions RecorderOptions(const std::string& source, int latencyMs);
// pacat: raw PCM from stdin into the sink, a queue of latencyMs (0: default).
ChildOptions PlayerOptions(const std::string& sink, int latencyMs);

// The program at path (tonewire-cli) with arguments, and NAME=VALUE settings
// added to its environment.
std::unique_ptr<ChildProcess> StartProgram(const std::string& path,
                                           const std::vector<std::string>& arguments,
                                           const std::vector<std::string>& environment);

// Waits until the recording's left channel holds sound (above a tenth of a
// -20 dBFS tone); its first frame, or -1 after timeoutMs.
long WaitForFirstSound(const ChildProcess& recorder, int timeoutMs);

// When the recording's frame soundStart was recorded, on the stall watch's
// clock: from how many frames the recorder holds now.
StallWatch::Clock::time_point FirstSoundTime(const ChildProcess& recorder, long soundStart);

// The built-in "Test tone" as the test tone runs record it: its level
// (-12 dBFS, as an RMS of full scale); a gap is 20 ms of it 40 dB below that
// level; a break is a leftover of its waveform above 0.005 of full scale (a
// clean 16-bit tone leaves about 2 / 32768, a jump by one sample of a 437 Hz
// tone about 0.016). See tone_checks.h.
inline constexpr double kTestToneLevelRms = 0.2512 / 1.41421356;
inline constexpr size_t kTestToneGapWindow = 44100 / 50;
inline constexpr double kTestToneGapFloorDb = -40;
inline constexpr double kTestToneBreakThreshold = 0.005;

// With a Server waiting: records "Speakers.monitor" (the sink started
// afresh), runs a Client (cliPath) that captures the built-in "Test tone" and
// connects to 127.0.0.1:clientPort with clientEnvironment added, records for
// `seconds` from the first sound, then stops the Client and the Server.
struct TestToneRecording {
  std::string failure;
  std::vector<double> left;          // the recording's left channel
  long soundStart = -1;              // its first frame of sound
  std::vector<MachineStall> stalls;  // timed from the first sound
  int clientExit = -1;
  int serverExit = -1;
};
TestToneRecording RecordTestTone(const std::string& cliPath, ChildProcess& server, int clientPort,
                                 const std::vector<std::string>& clientEnvironment, double seconds);

// A port on 127.0.0.1 that nothing listened on a moment ago.
int FreeLoopbackPort();

double SecondsOfBytes(std::uint64_t bytes);

}  // namespace twtest
