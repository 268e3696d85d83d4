#include "bench/network_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "bench/click_track.h"
#include "bench/latency_svg.h"
#include "bench/setups.h"
#include "tests/e2e/sound_rig.h"
#include "tests/support/link_relay.h"

namespace twbench {
namespace {

using Seconds = std::chrono::duration<double>;

constexpr int kSoundWaitMs = 15000;
constexpr double kSettleSeconds = 2.0;
constexpr double kBaselineSeconds = 5.0;  // before a spike: where the latency was
constexpr double kBackWithinMs = 20.0;    // back where it was, give or take
constexpr std::uint64_t kSeed = 24;

struct SetupFigures {
  std::string name;
  std::string failure;
  std::vector<LatencyPoint> clicks;  // every click's delay, by when it was heard
  Continuity continuity;             // gapSeconds and breakSeconds since connecting
  double targetMs = -1;
  std::vector<double> backSeconds;  // per spike; < 0: not back before the next
};

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return NAN;
  }
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(std::lround(fraction * (values.size() - 1)))];
}

std::vector<double> DelaysOf(const std::vector<LatencyPoint>& clicks) {
  std::vector<double> ms;
  for (const LatencyPoint& click : clicks) {
    ms.push_back(click.ms);
  }
  return ms;
}

// Holds and cuts rarer than a short run come once, at its middle.
twtest::LinkProfile ForRun(twtest::LinkProfile profile, const NetworkSettings& settings) {
  if (!settings.shortRun) {
    return profile;
  }
  for (auto* events : {&profile.holds, &profile.outages}) {
    for (twtest::LinkEvent& event : *events) {
      if (event.periodMs > settings.secondsPerProfile * 1000 * 0.8) {
        event.periodMs = settings.secondsPerProfile * 1000 / 2;
      }
    }
  }
  return profile;
}

// The last number after "target" in the Server's lines, in ms.
double ChosenTargetMs(Setup& setup) {
  auto* tonewire = dynamic_cast<TonewireSetup*>(&setup);
  if (tonewire == nullptr || tonewire->server() == nullptr) {
    return -1;
  }
  double target = -1;
  for (const twtest::TimedLine& line : tonewire->server()->Lines()) {
    const size_t at = line.text.find("target");
    if (at == std::string::npos) {
      continue;
    }
    const size_t digit = line.text.find_first_of("0123456789", at);
    if (digit != std::string::npos) {
      target = std::atof(line.text.c_str() + digit);
    }
  }
  return target;
}

void Analyse(const ClickRig& rig, Clock::time_point connected, Clock::time_point from,
             Clock::time_point to, SetupFigures& figures) {
  const HeardStretch heard = ReadStretch(rig, from, to);
  const auto since = [&](size_t frame) {
    return Seconds(rig.MomentOf(heard.base + frame) - connected).count();
  };
  for (const ClickDelay& delay : MatchClickDelays(heard.sentClicks, heard.relayedClicks)) {
    figures.clicks.push_back({since(delay.at), delay.ms});
  }
  figures.continuity = CheckContinuity(heard.relayed, heard.from, heard.to, heard.relayedClicks);
  const double offset = since(heard.from);
  for (auto* seconds : {&figures.continuity.gapSeconds, &figures.continuity.breakSeconds}) {
    for (double& at : *seconds) {
      at += offset;
    }
  }
}

// After each stop of the link: seconds from its end until a click is heard
// within kBackWithinMs of the median latency before it; 0 when the latency
// never rose; -1 when not back before the next stop or the end.
void TimeBackAfterStops(const std::vector<twtest::LinkEvent>& stops, SetupFigures& figures) {
  for (size_t i = 0; i < stops.size(); ++i) {
    const double start = stops[i].periodMs / 1000;
    const double end = start + stops[i].lengthMs / 1000;
    const double next = i + 1 < stops.size() ? stops[i + 1].periodMs / 1000 : 1e9;
    std::vector<double> before;
    for (const LatencyPoint& click : figures.clicks) {
      if (click.seconds >= start - kBaselineSeconds && click.seconds < start) {
        before.push_back(click.ms);
      }
    }
    if (before.empty()) {
      continue;  // before the measured stretch
    }
    const double baseline = Percentile(before, 0.5);
    double back = -1;
    bool rose = false;
    for (const LatencyPoint& click : figures.clicks) {
      if (click.seconds < start || click.seconds >= next) {
        continue;
      }
      rose = rose || click.ms > baseline + kBackWithinMs;
      if (click.seconds >= end && click.ms <= baseline + kBackWithinMs) {
        back = rose ? click.seconds - end : 0;
        break;
      }
    }
    figures.backSeconds.push_back(back);
  }
}

SetupFigures MeasureThroughLink(Setup& setup, const ClickRig& rig,
                                const twtest::LinkProfile& profile, double seconds) {
  SetupFigures figures;
  figures.name = setup.name();
  const int serverPort = twtest::FreeLoopbackPort();
  if (!setup.StartServerSide(serverPort, &figures.failure)) {
    return figures;
  }
  twtest::LinkRelay relay(profile, serverPort, kSeed);
  if (!relay.Start()) {
    figures.failure = "the relay did not start";
    return figures;
  }
  Clock::time_point heard;
  if (!setup.StartClientSide(relay.port(), &figures.failure)) {
    return figures;
  }
  if (!rig.WaitForRelayedSound(setup.clientStartedAt(), kSoundWaitMs, &heard)) {
    figures.failure = "no sound reached Speakers";
    return figures;
  }
  const Clock::time_point connected = relay.ConnectedAt();
  const Clock::time_point from =
      heard + std::chrono::duration_cast<Clock::duration>(Seconds(kSettleSeconds));
  const Clock::time_point to =
      connected + std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
  std::this_thread::sleep_until(to + std::chrono::milliseconds(300));
  Analyse(rig, connected, from, to, figures);
  figures.targetMs = ChosenTargetMs(setup);
  TimeBackAfterStops(twtest::StopsWithin(profile, seconds), figures);
  return figures;
}

std::vector<LatencyPoint> PerSecond(const std::vector<LatencyPoint>& clicks) {
  std::vector<LatencyPoint> seconds;
  for (const LatencyPoint& click : clicks) {
    const double second = std::floor(click.seconds);
    if (!seconds.empty() && seconds.back().seconds == second + 0.5) {
      seconds.back().ms = std::max(seconds.back().ms, click.ms);
    } else {
      seconds.push_back({second + 0.5, click.ms});
    }
  }
  return seconds;
}

std::string Cell(double value, const char* format = "%7.0f") {
  if (std::isnan(value) || value < 0) {
    return "    n/a";
  }
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Where each gap or break began, in seconds from the connection.
void PrintWhen(const char* what, const std::vector<double>& seconds) {
  if (seconds.empty()) {
    return;
  }
  std::string when;
  for (double at : seconds) {
    when += ' ' + Cell(at, "%.1f");
  }
  std::printf("%-13s %-30s %s at%s s\n", "", "", what, when.c_str());
}

void PrintRow(const std::string& profile, const SetupFigures& figures) {
  if (!figures.failure.empty()) {
    std::printf("%-13s %-30s failed: %s\n", profile.c_str(), figures.name.c_str(),
                figures.failure.c_str());
    return;
  }
  const std::vector<double> ms = DelaysOf(figures.clicks);
  std::string back;
  for (double seconds : figures.backSeconds) {
    back += ' ';
    back += seconds < 0 ? std::string("never") : Cell(seconds, "%.1f");
  }
  std::printf("%-13s %-30s %5d %6d %s %s %s %s  %s\n", profile.c_str(), figures.name.c_str(),
              figures.continuity.gaps, figures.continuity.breaks, Cell(Percentile(ms, 0.5)).c_str(),
              Cell(Percentile(ms, 0.95)).c_str(), Cell(Percentile(ms, 1.0)).c_str(),
              Cell(figures.targetMs).c_str(), back.empty() ? "-" : back.c_str());
  PrintWhen("gaps", figures.continuity.gapSeconds);
  PrintWhen("breaks", figures.continuity.breakSeconds);
}

void Picture(const twtest::LinkProfile& profile, double seconds,
             const std::vector<SetupFigures>& rows, const std::string& folder) {
  LatencyPicture picture{
      profile.name + ": latency per second (the highest click in it)", seconds, {}, {}};
  for (const twtest::LinkEvent& stop : twtest::StopsWithin(profile, seconds)) {
    picture.spikes.emplace_back(stop.periodMs / 1000, stop.lengthMs / 1000);
  }
  for (const SetupFigures& row : rows) {
    picture.lines.push_back(
        {row.name, PerSecond(row.clicks), row.continuity.gapSeconds, row.targetMs});
  }
  ::mkdir(folder.c_str(), 0755);
  const std::string path = folder + "/" + profile.name + ".svg";
  std::printf("%s %s\n", WriteLatencySvg(picture, path) ? "wrote" : "could not write",
              path.c_str());
}

}  // namespace

bool RunNetwork(const ClickRig& rig, const NetworkSettings& settings) {
  std::printf("%-13s %-30s %5s %6s %7s %7s %7s %7s  %s\n", "profile", "setup", "gaps", "breaks",
              "median", "p95", "max", "target", "s back after each spike");
  for (const twtest::LinkProfile& listed : twtest::LinkProfiles()) {
    if (!settings.onlyProfile.empty() && listed.name != settings.onlyProfile) {
      continue;
    }
    const twtest::LinkProfile profile = ForRun(listed, settings);
    std::vector<std::unique_ptr<Setup>> setups;
    setups.push_back(std::make_unique<TonewireSetup>(settings.cliPath));
    if (!settings.tonewireOnly) {
      setups.push_back(std::make_unique<PipelineSetup>(300));
      setups.push_back(std::make_unique<PipelineSetup>(0));
    }
    std::vector<SetupFigures> rows;
    for (const std::unique_ptr<Setup>& setup : setups) {
      rows.push_back(MeasureThroughLink(*setup, rig, profile, settings.secondsPerProfile));
      setup->Stop();
      PrintRow(profile.name, rows.back());
      std::fflush(stdout);
    }
    if (!settings.tonewireOnly) {
      Picture(profile, settings.secondsPerProfile, rows, settings.pictureFolder);
    }
  }
  return true;
}

}  // namespace twbench
