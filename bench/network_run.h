// The stream benchmark's network mode: each link profile of
// tests/support/link_relay.h (docs/network.md) in turn, tonewire-cli beside
// the pipeline (parec | nc to nc | pacat, at --latency-msec=300 and at the
// tools' defaults), each through its own relay between client and server
// side. Per profile and setup it prints the gaps and breaks, the latency's
// median, 95th percentile and maximum, the target the Server chose (the
// last number after "target" in a Server status line, "n/a" when it prints
// none), and how long the latency took after each spike to come back to
// where it was before; and it writes one picture per profile.
#pragma once

#include <string>

#include "bench/click_rig.h"

namespace twbench {

struct NetworkSettings {
  double secondsPerProfile = 600;
  bool shortRun = false;  // holds and cuts rarer than the run come at its middle
  std::string cliPath;
  std::string pictureFolder = "docs/network";
  std::string onlyProfile;    // empty: every profile
  bool tonewireOnly = false;  // no pipeline beside it, and no picture
};

// Runs every profile; false when the rig cannot measure at all.
bool RunNetwork(const ClickRig& rig, const NetworkSettings& settings);

}  // namespace twbench
