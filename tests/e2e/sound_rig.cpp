#include "tests/e2e/sound_rig.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <thread>

#include "tests/e2e/tone_checks.h"

namespace twtest {
namespace {

constexpr int kToolTimeoutMs = 10000;

std::vector<std::string> RawFormat() {
  return {"--raw", "--format=s16le", "--rate=44100", "--channels=2"};
}

void AddLatency(std::vector<std::string>* argv, int latencyMs) {
  if (latencyMs > 0) {
    argv->push_back("--latency-msec=" + std::to_string(latencyMs));
  }
}

// pacat playing one second of tone over and over. The thread owns the
// player: it starts it, feeds it, and ends it when asked or when it is gone.
class ToneFeeder {
 public:
  ToneFeeder(const std::string& sink, int hz) : tone_(OneSecondOf(hz)) {
    // A player that goes away makes the write fail instead of raising SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    thread_ = std::thread([this, sink] { Feed(sink); });
    while (!fed_.load() && !ended_.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~ToneFeeder() {
    stop_.store(true);
    thread_.join();
  }
  ToneFeeder(const ToneFeeder&) = delete;
  ToneFeeder& operator=(const ToneFeeder&) = delete;

  bool playing() const { return fed_.load() && !ended_.load(); }

 private:
  // Whole cycles fit one second for a whole number of Hz, so it loops
  // without a seam.
  static std::vector<std::int16_t> OneSecondOf(int hz) {
    std::vector<std::int16_t> samples;
    for (int frame = 0; frame < kBytesPerSecond / kFrameBytes; ++frame) {
      const double phase = 2 * std::numbers::pi * hz * frame / (kBytesPerSecond / kFrameBytes);
      const auto sample = static_cast<std::int16_t>(std::lround(16384 * std::sin(phase)));
      samples.push_back(sample);
      samples.push_back(sample);
    }
    return samples;
  }

  void Feed(const std::string& sink) {
    ChildProcess player(PlayerOptions(sink, 0));
    while (!stop_.load() && player.started() &&
           player.WriteStdin(tone_.data(), tone_.size() * sizeof(std::int16_t))) {
      fed_.store(true);
    }
    ended_.store(true);
  }

  std::vector<std::int16_t> tone_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> fed_{false};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace

bool PlayToneInto(const std::string& sink, int hz) {
  if (LoadModule({"module-sine", "sink=" + sink, "frequency=" + std::to_string(hz)}) >= 0) {
    return true;
  }
  static std::unique_ptr<ToneFeeder> feeder;
  feeder = std::make_unique<ToneFeeder>(sink, hz);
  return feeder->playing();
}

bool Pactl(const std::vector<std::string>& arguments, std::string* output) {
  std::vector<std::string> argv = {"pactl"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  bool ok = false;
  const std::string text = RunToEnd(argv, kToolTimeoutMs, &ok);
  if (output != nullptr) {
    *output = text;
  }
  return ok;
}

int LoadModule(const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {"load-module"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::string index;
  if (!Pactl(command, &index)) {
    return -1;
  }
  try {
    return std::stoi(index);
  } catch (...) {
    return -1;
  }
}

void UnloadModule(int index) {
  if (index >= 0) {
    Pactl({"unload-module", std::to_string(index)});
  }
}

ChildOptions RecorderOptions(const std::string& source, int latencyMs) {
  ChildOptions options;
  options.argv = {"parec", "--device=" + source};
  const std::vector<std::string> format = RawFormat();
  options.argv.insert(options.argv.end(), format.begin(), format.end());
  AddLatency(&options.argv, latencyMs);
  options.rawStdout = true;
  return options;
}

ChildOptions PlayerOptions(const std::string& sink, int latencyMs) {
  ChildOptions options;
  options.argv = {"pacat", "--playback", "--device=" + sink};
  const std::vector<std::string> format = RawFormat();
  options.argv.insert(options.argv.end(), format.begin(), format.end());
  AddLatency(&options.argv, latencyMs);
  options.pipeStdin = true;
  return options;
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return -1;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

double SecondsOfBytes(std::uint64_t bytes) { return static_cast<double>(bytes) / kBytesPerSecond; }

std::unique_ptr<ChildProcess> StartProgram(const std::string& path,
                                           const std::vector<std::string>& arguments,
                                           const std::vector<std::string>& environment) {
  ChildOptions options;
  options.argv = {path};
  options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
  options.environment = environment;
  return std::make_unique<ChildProcess>(options);
}

long WaitForFirstSound(const ChildProcess& recorder, int timeoutMs) {
  constexpr double kSoundThreshold = 0.01;
  constexpr int kPollMs = 100;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    const std::vector<double> left = StereoChannel(recorder.Bytes(), 0);
    const size_t start = FirstAbove(left, kSoundThreshold);
    if (start < left.size()) {
      return static_cast<long>(start);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return -1;
}

StallWatch::Clock::time_point FirstSoundTime(const ChildProcess& recorder, long soundStart) {
  const double held = static_cast<double>(recorder.ByteCount() / kFrameBytes);
  const double behind = (held - static_cast<double>(std::max(soundStart, 0L))) / kRecordRate;
  return StallWatch::Clock::now() - std::chrono::duration_cast<StallWatch::Clock::duration>(
                                        std::chrono::duration<double>(behind));
}

TestToneRecording RecordTestTone(const std::string& cliPath, ChildProcess& server, int clientPort,
                                 const std::vector<std::string>& clientEnvironment,
                                 double seconds) {
  constexpr int kWaitMs = 15000;
  constexpr int kExitMs = 10000;
  TestToneRecording run;
  const StallWatch watch;
  ChildProcess recorder(RecorderOptions("Speakers.monitor", 20));
  // An idle null sink renders in 2 s blocks and takes its recorder's 20 ms
  // only from its next block, so the Server's stream could wait up to 2 s
  // for its first request while the Client's sound piles up in the sockets.
  // A suspend and resume starts the sink afresh, as a sound card serves a
  // new stream at once.
  if (!recorder.WaitForBytes(kFrameBytes, kWaitMs) || !Pactl({"suspend-sink", "Speakers", "1"}) ||
      !Pactl({"suspend-sink", "Speakers", "0"})) {
    run.failure = "no recording of Speakers.monitor";
    return run;
  }
  auto client = StartProgram(
      cliPath,
      {"client", "127.0.0.1", "--port", std::to_string(clientPort), "--device", "Test tone"},
      clientEnvironment);
  run.soundStart = WaitForFirstSound(recorder, kWaitMs);
  const StallWatch::Clock::time_point soundStartAt = FirstSoundTime(recorder, run.soundStart);
  const auto frames = static_cast<std::uint64_t>(run.soundStart + seconds * kRecordRate);
  if (run.soundStart < 0) {
    run.failure = "no sound from the Server";
  } else if (!recorder.WaitForBytes(frames * kFrameBytes,
                                    kWaitMs + static_cast<int>(seconds * 1000))) {
    run.failure = "the recording stopped early";
  }
  client->Signal(SIGTERM);
  run.clientExit = client->Wait(kExitMs);
  server.Signal(SIGTERM);
  run.serverExit = server.Wait(kExitMs);
  run.left = StereoChannel(recorder.Bytes(), 0);
  run.stalls = watch.Since(soundStartAt);
  return run;
}

}  // namespace twtest
