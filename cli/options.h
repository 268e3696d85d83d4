// The command line of tonewire-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/peer_networks.h"

#include "cli/status_filter.h"

namespace twcli {

enum class Command { kHelp, kVersion, kDevices, kServer, kClient, kServers };

struct Options {
  Command command = Command::kHelp;
  bool playbackDevices = false;       // devices: the Server's list instead of the Client's
  std::string host;                   // client: typed into the host field
  std::optional<std::string> port;    // typed into the port field as given
  std::optional<std::string> device;  // part of an entry's text, any case
  std::optional<int> volume;          // slider position in dB, -50..0
  std::optional<double> seconds;      // from Start to closing; none: until a signal
  std::optional<double> retry;        // first pause before Start again after a run ended
  Verbosity verbosity = Verbosity::kNormal;
  bool save = false;  // write the window's settings at the end, for the desktop program
  std::optional<std::string> name;  // server: the name it is announced under
  // server: where to listen (empty: every address) and whom to serve.
  std::vector<PeerAddress> listen;
  AllowedNetworks allow;
  // server: the playback target in ms, 0 for auto (adapts to the link)
  std::optional<long> latencyMs;
};

// The version both programs print for --version.
const char* VersionText();

// True with options filled; false with error set to a one-line reason.
bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

const char* UsageText();

}  // namespace twcli
