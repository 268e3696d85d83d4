// End-to-end figures of tonewire-cli on a private sound server, beside the
// Unix tools doing the same job (parec | nc to nc | pacat), in one run:
//
//   latency      a click played into "Mic" -> heard on "Speakers" (median,
//                95th percentile, drift from the first fifth of the clicks
//                to the last), beside what the constants imply
//   gaps         20 ms stretches of the relayed tone 40 dB below it, and
//                breaks in its waveform
//   CPU, memory  user + system time of each side's processes per minute of
//                sound; their peak resident memory (VmHWM)
//   start, stop  Start -> first sound; stop request (SIGTERM: the command
//                line has no Stop button) -> "Stopped" and -> exit
//   scale        the Server's CPU at 44100 Hz/2/16 and 192000 Hz/8/32, fed by
//                a test client at real-time pace
//
// Prints tables and asserts nothing. Exits 1 only when it cannot measure at
// all (no sound server, no tonewire-cli).
//
//   tonewire_stream_bench [--short | --long] [--tonewire-only SECONDS] [--cli PATH]
//   tonewire_stream_bench --skew PPM [--correction on|off] [--seconds S] [--cli PATH]
//   tonewire_stream_bench --network [--short | --seconds S] [--profile NAME] [--tonewire-only]
//                         [--cli PATH]
//
// --skew measures only two clocks (bench/skew_run.h): the Client's built-in
// clock PPM off, the Server's drift correction on or off, for S seconds
// (default 600). --network runs every emulated link profile, S seconds each
// (default 600; 60 with --short), and writes pictures to docs/network
// (bench/network_run.h).
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/click_rig.h"
#include "bench/click_track.h"
#include "bench/network_run.h"
#include "bench/setups.h"
#include "bench/skew_run.h"
#include "core/stream_header.h"
#include "tests/e2e/sound_rig.h"

namespace twbench {
namespace {

struct Settings {
  const char* mode = "default";
  double tonewireSeconds = 60;  // the drift is measured over this run
  double pipelineSeconds = 30;
  double scaleSeconds = 5;
  int stopCycles = 5;
  double settleSeconds = 2.0;  // after the first sound, before measuring
  double playBeforeStopSeconds = 1.5;
  std::string cliPath = TW_CLI_PATH;
  bool tonewireOnly = false;  // one tonewire-cli run and its figures, nothing else
  bool skew = false;
  int skewPpm = 0;
  bool corrected = true;
  double skewSeconds = 600;
  bool network = false;
  const char* networkProfile = "";  // empty: every profile
};

// About 20 s in all, so that it runs with every test run and cannot rot.
Settings ShortSettings() { return Settings{"short", 3, 2.5, 1, 1, 0.5, 1.0}; }
Settings LongSettings() { return Settings{"long", 600, 60, 10, 10}; }

constexpr int kSoundWaitMs = 15000;
constexpr int kLineWaitMs = 10000;
constexpr int kExitWaitMs = 10000;
constexpr int kPipelineSmallMs =
    20;  // the least that ran without gaps here; see docs/benchmarks.md

// What the constants imply: a sample waits for the rest of its block in the
// Client's ring; the Server's playback controller brings what it holds just
// before a block lands to its target, about 35 ms on a link as steady as
// loopback (10 ms over the lateness the Client's 25 ms capture steps give
// its blocks; audio/playback_controller.h); the sound backend adds its
// capture fragment and the playback queue (40 ms, kept full;
// platform/dsound/pulse).
struct DesignLatency {
  double blockMs = kBlockBytes * 1000.0 / 176400;
  double serverQueueMs = 35;
  double deviceMs = 25 + 40;
  double totalMs() const { return blockMs + serverQueueMs + deviceMs; }
};

using Seconds = std::chrono::duration<double>;

Clock::duration Span(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
}

double Ms(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return NAN;
  }
  std::sort(values.begin(), values.end());
  const auto index = static_cast<size_t>(std::lround(fraction * (values.size() - 1)));
  return values[index];
}

double Median(const std::vector<double>& values) { return Percentile(values, 0.5); }

// Median of the last fifth less the median of the first fifth.
double Drift(const std::vector<double>& inOrder) {
  const size_t fifth = inOrder.size() / 5;
  if (fifth == 0) {
    return NAN;
  }
  const std::vector<double> first(inOrder.begin(), inOrder.begin() + fifth);
  const std::vector<double> last(inOrder.end() - fifth, inOrder.end());
  return Median(last) - Median(first);
}

struct StreamFigures {
  std::string name;
  std::string failure;
  double startToSoundMs = NAN;
  std::vector<double> latenciesMs;  // in the order the clicks came
  Continuity continuity;            // the setup's own gaps and breaks
  int rigEvents = 0;                // gaps and breaks the click track already had
  double measuredSeconds = 0;
  double clientCpuMsPerMinute = NAN;
  double serverCpuMsPerMinute = NAN;
  double clientPeakMb = NAN;
  double serverPeakMb = NAN;
};

double CpuMsPerMinute(const SideStats& before, const SideStats& after, double seconds) {
  if (!before.known || !after.known || seconds <= 0) {
    return NAN;
  }
  return (after.cpuSeconds - before.cpuSeconds) * 1000.0 * 60.0 / seconds;
}

// Drops the events that the click track already had as it was sent (feeder
// or sound server late): the rig's, not the setup's. Returns how many.
int DropInherited(std::vector<double>& relayedSeconds, const std::vector<double>& sentSeconds) {
  constexpr double kSameEvent = 0.02;
  const size_t before = relayedSeconds.size();
  std::erase_if(relayedSeconds, [&](double at) {
    return std::any_of(sentSeconds.begin(), sentSeconds.end(),
                       [&](double sent) { return std::fabs(sent - at) <= kSameEvent; });
  });
  return static_cast<int>(before - relayedSeconds.size());
}

void Analyse(const ClickRig& rig, Clock::time_point from, Clock::time_point to,
             StreamFigures& figures) {
  const HeardStretch heard = ReadStretch(rig, from, to);
  figures.latenciesMs = MatchClicks(heard.sentClicks, heard.relayedClicks);
  figures.continuity = CheckContinuity(heard.relayed, heard.from, heard.to, heard.relayedClicks);
  if (figures.latenciesMs.empty()) {
    return;
  }
  // The same stretch of the click track as it was sent.
  const auto delay = static_cast<size_t>(Median(figures.latenciesMs) * kRate / 1000);
  const Continuity asSent =
      CheckContinuity(heard.sent, heard.from - delay, heard.to - delay, heard.sentClicks);
  Continuity& own = figures.continuity;
  figures.rigEvents = DropInherited(own.gapSeconds, asSent.gapSeconds) +
                      DropInherited(own.breakSeconds, asSent.breakSeconds);
  own.gaps = static_cast<int>(own.gapSeconds.size());
  own.breaks = static_cast<int>(own.breakSeconds.size());
}

// Streams through a setup whose server side is up; leaves both sides running.
StreamFigures Stream(Setup& setup, const ClickRig& rig, int port, double settle, double seconds) {
  StreamFigures figures;
  figures.name = setup.name();
  if (!setup.StartClientSide(port, &figures.failure)) {
    return figures;
  }
  Clock::time_point heard;
  if (!rig.WaitForRelayedSound(setup.clientStartedAt(), kSoundWaitMs, &heard)) {
    figures.failure = "no sound reached Speakers";
    return figures;
  }
  figures.startToSoundMs = Ms(heard - setup.clientStartedAt());
  std::this_thread::sleep_until(heard + Span(settle));
  const SideStats clientBefore = ReadSideStats(setup.ClientPids());
  const SideStats serverBefore = ReadSideStats(setup.ServerPids());
  const Clock::time_point from = Clock::now();
  std::this_thread::sleep_until(from + Span(seconds));
  const SideStats clientAfter = ReadSideStats(setup.ClientPids());
  const SideStats serverAfter = ReadSideStats(setup.ServerPids());
  const Clock::time_point to = Clock::now();
  figures.measuredSeconds = Seconds(to - from).count();
  figures.clientCpuMsPerMinute = CpuMsPerMinute(clientBefore, clientAfter, figures.measuredSeconds);
  figures.serverCpuMsPerMinute = CpuMsPerMinute(serverBefore, serverAfter, figures.measuredSeconds);
  figures.clientPeakMb = clientAfter.known ? clientAfter.peakMb : NAN;
  figures.serverPeakMb = serverAfter.known ? serverAfter.peakMb : NAN;
  // What was heard until `to` reaches the recorder a little later.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Analyse(rig, from, to, figures);
  return figures;
}

StreamFigures MeasurePipeline(int latencyMs, const ClickRig& rig, const Settings& settings) {
  PipelineSetup setup(latencyMs);
  const int port = twtest::FreeLoopbackPort();
  StreamFigures figures;
  figures.name = setup.name();
  if (setup.StartServerSide(port, &figures.failure)) {
    figures = Stream(setup, rig, port, settings.settleSeconds, settings.pipelineSeconds);
  }
  setup.Stop();
  return figures;
}

// Stop request -> "Stopped" on the process's stdout, and -> its exit.
struct StopTimes {
  std::vector<double> toStoppedMs;
  std::vector<double> toExitMs;
};

void StopAndTime(twtest::ChildProcess& child, StopTimes& times) {
  const Clock::time_point requested = Clock::now();
  child.Signal(SIGTERM);
  child.Wait(kExitWaitMs);
  if (!child.Ended()) {
    return;
  }
  times.toExitMs.push_back(Ms(child.endedAt() - requested));
  child.DrainOutput();
  Clock::time_point stopped;
  if (child.LineTime(kStopped, requested, &stopped)) {
    times.toStoppedMs.push_back(Ms(stopped - requested));
  }
}

struct StartStopFigures {
  std::vector<double> startToSoundMs;  // from Start, as the window shows it
  std::vector<double> launchToSoundMs;
  StopTimes client;
  StopTimes server;
};

void TimeStart(TonewireSetup& setup, const ClickRig& rig, StartStopFigures& figures) {
  Clock::time_point heard;
  if (rig.WaitForRelayedSound(setup.clientStartedAt(), kSoundWaitMs, &heard)) {
    figures.startToSoundMs.push_back(Ms(heard - setup.clientStartedAt()));
    figures.launchToSoundMs.push_back(Ms(heard - setup.client()->startedAt()));
  }
}

// Clients started and stopped against one Server; then Servers stopped
// while they play.
StartStopFigures MeasureStartStop(const Settings& settings, const ClickRig& rig) {
  StartStopFigures figures;
  std::string failure;
  {
    TonewireSetup setup(settings.cliPath);
    const int port = twtest::FreeLoopbackPort();
    if (setup.StartServerSide(port, &failure)) {
      for (int i = 0; i < settings.stopCycles; ++i) {
        if (!setup.StartClientSide(port, &failure)) {
          break;
        }
        TimeStart(setup, rig, figures);
        std::this_thread::sleep_for(Span(settings.playBeforeStopSeconds));
        StopAndTime(*setup.client(), figures.client);
        setup.server()->WaitForLine(kWaiting, kLineWaitMs, i + 2);
      }
    }
    setup.Stop();
  }
  for (int i = 0; i < settings.stopCycles; ++i) {
    TonewireSetup setup(settings.cliPath);
    const int port = twtest::FreeLoopbackPort();
    if (setup.StartServerSide(port, &failure) && setup.StartClientSide(port, &failure)) {
      TimeStart(setup, rig, figures);
      std::this_thread::sleep_for(Span(settings.playBeforeStopSeconds));
      StopAndTime(*setup.server(), figures.server);
    }
    setup.Stop();
  }
  return figures;
}

struct ScaleFigures {
  StreamFormat format{};
  std::string failure;
  double serverCpuMsPerMinute = NAN;
  double serverPeakMb = NAN;
};

ScaleFigures MeasureScale(const Settings& settings, const StreamFormat& format) {
  ScaleFigures figures;
  figures.format = format;
  TonewireSetup setup(settings.cliPath);
  const int port = twtest::FreeLoopbackPort();
  if (!setup.StartServerSide(port, &figures.failure)) {
    return figures;
  }
  bool streamed = false;
  std::thread client([&] {
    streamed = StreamSilence(port, format, settings.settleSeconds + settings.scaleSeconds + 0.5);
  });
  std::this_thread::sleep_for(Span(settings.settleSeconds));
  const SideStats before = ReadSideStats(setup.ServerPids());
  const Clock::time_point from = Clock::now();
  std::this_thread::sleep_for(Span(settings.scaleSeconds));
  const SideStats after = ReadSideStats(setup.ServerPids());
  figures.serverCpuMsPerMinute =
      CpuMsPerMinute(before, after, Seconds(Clock::now() - from).count());
  figures.serverPeakMb = after.known ? after.peakMb : NAN;
  client.join();
  const bool playing = setup.server()->CountLines("Playback") == 1;
  setup.Stop();
  if (!streamed || !playing) {
    figures.failure = "the Server did not play the stream";
    for (const std::string& line : setup.server()->ErrorLines()) {
      figures.failure += "; " + line;
    }
  }
  return figures;
}

// --- Printing ---------------------------------------------------------------

// n/a for a figure that could not be taken (a ratio to a figure of 0).
std::string Cell(double value, int width = 8, int decimals = 1) {
  char text[32];
  if (!std::isfinite(value)) {
    std::snprintf(text, sizeof text, "%*s", width, "n/a");
  } else {
    std::snprintf(text, sizeof text, "%*.*f", width, decimals, value);
  }
  return text;
}

double PercentOfCore(double msPerMinute) { return msPerMinute / 600.0; }

// Where the first gaps and breaks were, in seconds into the measured stretch.
void PrintWhere(const char* what, const std::vector<double>& seconds) {
  constexpr size_t kShown = 8;
  if (seconds.empty()) {
    return;
  }
  std::printf("    %s at", what);
  for (size_t i = 0; i < std::min(seconds.size(), kShown); ++i) {
    std::printf(" %.2f", seconds[i]);
  }
  std::printf(seconds.size() > kShown ? " ... s\n" : " s\n");
}

// The median of each minute's clicks, for runs of two minutes or more.
void PrintMinutes(const std::vector<double>& inOrder, double seconds) {
  const auto perMinute = static_cast<size_t>(60 / kClickPeriodSeconds);
  if (seconds < 120 || inOrder.size() < 2 * perMinute) {
    return;
  }
  std::printf("    median by minute:");
  for (size_t from = 0; from + perMinute <= inOrder.size(); from += perMinute) {
    const std::vector<double> minute(inOrder.begin() + from, inOrder.begin() + from + perMinute);
    std::printf(" %.1f", Median(minute));
  }
  std::printf("\n");
}

void PrintLatencies(const std::vector<StreamFigures>& streams, const DesignLatency& design) {
  std::printf("\nLatency: a click into \"Mic\" -> heard on \"Speakers\" (ms)\n");
  std::printf("%-34s %6s %8s %8s %8s %8s %8s %5s %6s %9s %4s\n", "setup", "clicks", "median", "p95",
              "min", "max", "drift", "gaps", "breaks", "quietest", "rig");
  std::printf("%-34s %6s %s   (block %.1f + Server ring %.1f + devices %.1f)\n", "design", "",
              Cell(design.totalMs()).c_str(), design.blockMs, design.serverQueueMs,
              design.deviceMs);
  for (const StreamFigures& row : streams) {
    if (!row.failure.empty()) {
      std::printf("%-34s not measured: %s\n", row.name.c_str(), row.failure.c_str());
      continue;
    }
    const auto& values = row.latenciesMs;
    std::printf("%-34s %6zu %s %s %s %s %s %5d %6d %6.1f dB %4d\n", row.name.c_str(), values.size(),
                Cell(Median(values)).c_str(), Cell(Percentile(values, 0.95)).c_str(),
                Cell(Percentile(values, 0)).c_str(), Cell(Percentile(values, 1)).c_str(),
                Cell(Drift(values)).c_str(), row.continuity.gaps, row.continuity.breaks,
                row.continuity.quietestDb, row.rigEvents);
    PrintMinutes(values, row.measuredSeconds);
    PrintWhere("gaps", row.continuity.gapSeconds);
    PrintWhere("breaks", row.continuity.breakSeconds);
  }
}

void PrintCpu(const std::vector<StreamFigures>& streams) {
  std::printf("\nCPU per minute of sound (ms of one core, %% of one core) and peak memory (MB)\n");
  std::printf("%-34s %8s %7s %8s %7s %8s %8s %9s\n", "setup", "client", "%", "server", "%",
              "client", "server", "start ms");
  for (const StreamFigures& row : streams) {
    if (!row.failure.empty()) {
      continue;
    }
    std::printf(
        "%-34s %s %s %s %s %s %s %s\n", row.name.c_str(), Cell(row.clientCpuMsPerMinute).c_str(),
        Cell(PercentOfCore(row.clientCpuMsPerMinute), 7, 3).c_str(),
        Cell(row.serverCpuMsPerMinute).c_str(),
        Cell(PercentOfCore(row.serverCpuMsPerMinute), 7, 3).c_str(), Cell(row.clientPeakMb).c_str(),
        Cell(row.serverPeakMb).c_str(), Cell(row.startToSoundMs, 9).c_str());
  }
  std::printf("(start ms: the client side's start -> first sound on Speakers; tonewire: Start)\n");
}

void PrintRatios(const std::vector<StreamFigures>& streams) {
  const StreamFigures& ours = streams.front();
  std::printf("\nRatios, tonewire-cli / pipeline\n");
  std::printf("%-34s %8s %8s %8s\n", "pipeline", "latency", "cpu cli", "cpu srv");
  for (size_t i = 1; i < streams.size(); ++i) {
    const StreamFigures& other = streams[i];
    std::printf("%-34s %s %s %s\n", other.name.c_str(),
                Cell(Median(ours.latenciesMs) / Median(other.latenciesMs), 8, 2).c_str(),
                Cell(ours.clientCpuMsPerMinute / other.clientCpuMsPerMinute, 8, 2).c_str(),
                Cell(ours.serverCpuMsPerMinute / other.serverCpuMsPerMinute, 8, 2).c_str());
  }
}

void PrintTimes(const char* what, const std::vector<double>& values) {
  std::printf("%-40s %6zu %s %s\n", what, values.size(), Cell(Median(values)).c_str(),
              Cell(Percentile(values, 1)).c_str());
}

void PrintStartStop(const StartStopFigures& figures) {
  std::printf(
      "\nStart and stop, tonewire-cli (ms; the stop request is SIGTERM, which closes\n"
      "the window: the command line has no Stop button)\n");
  std::printf("%-40s %6s %8s %8s\n", "", "times", "median", "max");
  PrintTimes("Start -> first sound", figures.startToSoundMs);
  PrintTimes("launch -> first sound", figures.launchToSoundMs);
  PrintTimes("client: stop request -> \"Stopped\"", figures.client.toStoppedMs);
  PrintTimes("client: stop request -> exit", figures.client.toExitMs);
  PrintTimes("server: stop request -> \"Stopped\"", figures.server.toStoppedMs);
  PrintTimes("server: stop request -> exit", figures.server.toExitMs);
}

void PrintScale(const std::vector<ScaleFigures>& rows) {
  std::printf("\nServer CPU by stream format (a test client sends silence at real-time pace)\n");
  std::printf("%-28s %8s %7s %8s\n", "format", "ms/min", "%", "peak MB");
  for (const ScaleFigures& row : rows) {
    char format[64];
    std::snprintf(format, sizeof format, "%d Hz, %d ch, %d bit", row.format.samplesPerSecond,
                  row.format.channels, row.format.bitsPerSample);
    if (!row.failure.empty()) {
      std::printf("%-28s not measured: %s\n", format, row.failure.c_str());
      continue;
    }
    std::printf("%-28s %s %s %s\n", format, Cell(row.serverCpuMsPerMinute).c_str(),
                Cell(PercentOfCore(row.serverCpuMsPerMinute), 7, 3).c_str(),
                Cell(row.serverPeakMb).c_str());
  }
}

const char* Met(bool met) { return met ? "met" : "NOT met"; }

// A short run can leave a side of the pipeline below one tick of the
// process clock (10 ms): no ratio can be taken from that.
void PrintPipelineRatio(const StreamFigures& ours, const StreamFigures& pipeline) {
  std::printf("  CPU at most 0.4 x the pipeline at its defaults: ");
  if (pipeline.clientCpuMsPerMinute <= 0 || pipeline.serverCpuMsPerMinute <= 0) {
    std::printf("not measured (a side of the pipeline used less than a clock tick)\n");
    return;
  }
  const double ratio = std::max(ours.clientCpuMsPerMinute / pipeline.clientCpuMsPerMinute,
                                ours.serverCpuMsPerMinute / pipeline.serverCpuMsPerMinute);
  std::printf("%.2f   %s\n", ratio, Met(ratio <= 0.4));
}

void PrintTargets(const std::vector<StreamFigures>& streams, const std::vector<ScaleFigures>& scale,
                  const StartStopFigures& times) {
  const StreamFigures& ours = streams.front();
  const StreamFigures& pipeline = streams[1];  // at its defaults
  const double median = Median(ours.latenciesMs);
  const double drift = Drift(ours.latenciesMs);
  const double cpu =
      std::max(PercentOfCore(ours.clientCpuMsPerMinute), PercentOfCore(ours.serverCpuMsPerMinute));
  const double wide = PercentOfCore(scale.back().serverCpuMsPerMinute);
  const double stop = std::max(Median(times.client.toStoppedMs), Median(times.server.toStoppedMs));
  std::printf("\nTargets (tonewire-cli)\n");
  std::printf("  latency median at most 320 ms: %.1f   %s\n", median, Met(median <= 320));
  std::printf("  drift at most 5 ms over the run (%.0f s): %.1f   %s\n", ours.measuredSeconds,
              drift, Met(std::fabs(drift) <= 5));
  std::printf("  no gap: %d gaps, %d breaks   %s\n", ours.continuity.gaps, ours.continuity.breaks,
              Met(ours.continuity.gaps == 0 && ours.continuity.breaks == 0));
  std::printf("  CPU at most 0.8 %% of one core per side: %.3f %%   %s\n", cpu, Met(cpu <= 0.8));
  PrintPipelineRatio(ours, pipeline);
  std::printf("  Server at 192000 Hz/8/32 at most 2 %% of one core: %.3f %%   %s\n", wide,
              Met(wide <= 2));
  std::printf("  stop -> \"Stopped\" at most 60 ms median: %.1f   %s\n", stop, Met(stop <= 60));
}

// Another mode's settings, keeping the options given besides it.
Settings WithCli(Settings settings, const Settings& given) {
  settings.cliPath = given.cliPath;
  settings.network = given.network;
  settings.networkProfile = given.networkProfile;
  return settings;
}

bool ParseSkewArgument(const char* option, const char* value, Settings* settings) {
  char* end = nullptr;
  if (std::strcmp(option, "--skew") == 0) {
    settings->skew = true;
    settings->skewPpm = static_cast<int>(std::strtol(value, &end, 10));
  } else if (std::strcmp(option, "--seconds") == 0) {
    settings->skewSeconds = std::strtod(value, &end);
  } else if (std::strcmp(option, "--correction") == 0) {
    settings->corrected = std::strcmp(value, "off") != 0;
    return std::strcmp(value, "on") == 0 || !settings->corrected;
  } else {
    return false;
  }
  return end != value && *end == '\0';
}

bool ParseArguments(int argc, char** argv, Settings* settings) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--short") == 0) {
      *settings = WithCli(ShortSettings(), *settings);
    } else if (std::strcmp(argv[i], "--long") == 0) {
      *settings = WithCli(LongSettings(), *settings);
    } else if (std::strcmp(argv[i], "--network") == 0) {
      settings->network = true;
    } else if (std::strcmp(argv[i], "--profile") == 0 && i + 1 < argc) {
      settings->networkProfile = argv[++i];
    } else if (std::strcmp(argv[i], "--tonewire-only") == 0 && settings->network) {
      settings->tonewireOnly = true;
    } else if (std::strcmp(argv[i], "--tonewire-only") == 0 && i + 1 < argc) {
      settings->tonewireOnly = true;
      settings->tonewireSeconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--cli") == 0 && i + 1 < argc) {
      settings->cliPath = argv[++i];
    } else if (i + 1 < argc && ParseSkewArgument(argv[i], argv[i + 1], settings)) {
      ++i;
    } else {
      std::fprintf(
          stderr,
          "usage: %s [--short | --long] [--tonewire-only SECONDS] [--cli PATH]\n"
          "       %s --skew PPM [--correction on|off] [--seconds S] [--cli PATH]\n"
          "       %s --network [--short | --seconds S] [--profile NAME] [--tonewire-only]\n"
          "                 [--cli PATH]\n",
          argv[0], argv[0], argv[0]);
      return false;
    }
  }
  return true;
}

int RunSkew(const Settings& settings) {
  std::printf("Tonewire stream benchmark (skew %+d ppm, correction %s, %.0f s): 127.0.0.1\n",
              settings.skewPpm, settings.corrected ? "on" : "off", settings.skewSeconds);
  ClickRig rig;
  std::string failure;
  if (!rig.Start(settings.skewSeconds + 60, &failure)) {
    std::printf("cannot measure: %s\n", failure.c_str());
    return 1;
  }
  PrintSkew({MeasureSkew(rig, settings.cliPath, settings.skewPpm, settings.corrected,
                         settings.skewSeconds)});
  return 0;
}

int RunNetworkProfiles(const Settings& settings) {
  NetworkSettings network;
  network.shortRun = std::strcmp(settings.mode, "short") == 0;
  network.secondsPerProfile = network.shortRun ? 60 : settings.skewSeconds;
  network.cliPath = settings.cliPath;
  network.onlyProfile = settings.networkProfile;
  network.tonewireOnly = settings.tonewireOnly;
  std::printf(
      "Tonewire stream benchmark (network, %.0f s per profile): 127.0.0.1 through an "
      "emulated link (docs/network.md)\n",
      network.secondsPerProfile);
  ClickRig rig;
  std::string failure;
  if (!rig.Start(15 * (network.secondsPerProfile + 20) + 60, &failure)) {
    std::printf("cannot measure: %s\n", failure.c_str());
    return 1;
  }
  return RunNetwork(rig, network) ? 0 : 1;
}

double LongestRunSeconds(const Settings& settings) {
  const double cycles = 2.0 * settings.stopCycles * (settings.playBeforeStopSeconds + 3);
  return settings.tonewireSeconds + 2 * settings.pipelineSeconds + cycles + 120;
}

int Run(const Settings& settings) {
  if (settings.skew) {
    return RunSkew(settings);
  }
  if (settings.network) {
    return RunNetworkProfiles(settings);
  }
  std::printf(
      "Tonewire stream benchmark (%s): 127.0.0.1, a private sound server, "
      "44100 Hz 2 ch 16 bit\n",
      settings.mode);
  ClickRig rig;
  std::string failure;
  if (!rig.Start(LongestRunSeconds(settings), &failure)) {
    std::printf("cannot measure: %s\n", failure.c_str());
    return 1;
  }
  std::vector<StreamFigures> streams;
  {
    TonewireSetup setup(settings.cliPath);
    const int port = twtest::FreeLoopbackPort();
    if (!setup.StartServerSide(port, &failure)) {
      std::printf("cannot measure: %s\n", failure.c_str());
      return 1;
    }
    streams.push_back(Stream(setup, rig, port, settings.settleSeconds, settings.tonewireSeconds));
    setup.Stop();
  }
  if (settings.tonewireOnly) {
    PrintLatencies(streams, DesignLatency());
    PrintCpu(streams);
    return 0;
  }
  streams.push_back(MeasurePipeline(0, rig, settings));
  streams.push_back(MeasurePipeline(kPipelineSmallMs, rig, settings));
  const StartStopFigures times = MeasureStartStop(settings, rig);
  std::vector<ScaleFigures> scale;
  for (const StreamFormat& format : {StreamFormat{44100, 2, 16}, StreamFormat{192000, 8, 32}}) {
    scale.push_back(MeasureScale(settings, format));
  }
  const DesignLatency design;
  PrintLatencies(streams, design);
  PrintCpu(streams);
  PrintRatios(streams);
  PrintStartStop(times);
  PrintScale(scale);
  PrintTargets(streams, scale, times);
  return 0;
}

}  // namespace
}  // namespace twbench

int main(int argc, char** argv) {
  twbench::Settings settings;
  if (!twbench::ParseArguments(argc, argv, &settings)) {
    return 2;
  }
  // Writing to a child that has gone must fail, not end the benchmark.
  ::signal(SIGPIPE, SIG_IGN);
  return twbench::Run(settings);
}
