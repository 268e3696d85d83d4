#include "cli/options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace twcli {
namespace {

constexpr int kLowestVolume = -50;
constexpr long kFewestLatencyMs = 10;
constexpr long kMostLatencyMs = 1400;  // the playback controller's ceiling

bool ParseVolume(const std::string& text, int* volume) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < kLowestVolume || value > 0) {
    return false;
  }
  *volume = static_cast<int>(value);
  return true;
}

// A day: the longest pause or run a user means; longer texts ("1e10") are
// typing errors, and a bound keeps the seconds exact as clock ticks.
constexpr double kLongestSeconds = 86400;
constexpr unsigned long kHighestPort = 65535;

// Plain decimal seconds ("2", "0.5", "1.5e2"): no sign, hexadecimal, "inf"
// or "nan", above 0 and at most kLongestSeconds.
bool ParseSeconds(const std::string& text, double* seconds) {
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.' && c != 'e' && c != 'E' &&
        c != '-') {
      return false;
    }
  }
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !(value > 0) || value > kLongestSeconds) {
    return false;
  }
  *seconds = value;
  return true;
}

// An announced name is one DNS label.
bool ValidInstanceName(const std::string& text) { return !text.empty() && text.size() <= 63; }

// Digits only, 1..65535: the port field would keep the digits of "0x4722"
// and listen on 4722.
bool IsPortText(const std::string& text) {
  if (text.empty() || text.size() > 5) {
    return false;
  }
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  const unsigned long port = std::strtoul(text.c_str(), nullptr, 10);
  return port >= 1 && port <= kHighestPort;
}

// Splits "--name=value" and "--name value"; false when the value is missing.
bool TakeOptionValue(const std::vector<std::string>& args, size_t* index, std::string* name,
                     std::string* value) {
  const std::string& arg = args[*index];
  size_t equals = arg.find('=');
  if (equals != std::string::npos) {
    *name = arg.substr(0, equals);
    *value = arg.substr(equals + 1);
    return true;
  }
  *name = arg;
  if (*index + 1 >= args.size()) {
    return false;
  }
  *value = args[++*index];
  return true;
}

// --listen adds to the addresses of earlier ones; --allow replaces.
bool ApplyPeerOption(const std::string& name, const std::string& value, Options* options,
                     std::string* error) {
  std::string why;
  if (name == "--allow") {
    if (!AllowedNetworks::Parse(value, &options->allow, &why)) {
      *error = "--allow: " + why;
      return false;
    }
    return true;
  }
  std::string all = ListenAddressesText(options->listen);
  all.append(all.empty() ? "" : ",").append(value);
  if (!ParseListenAddresses(all, &options->listen, &why)) {
    *error = "--listen: " + why;
    return false;
  }
  return true;
}

// "auto" (0) or a whole number of ms the playback controller can hold.
bool ParseLatency(const std::string& text, long* ms) {
  if (text == "auto") {
    *ms = 0;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < kFewestLatencyMs ||
      value > kMostLatencyMs) {
    return false;
  }
  *ms = value;
  return true;
}

bool ApplyOption(const std::string& name, const std::string& value, Options* options,
                 std::string* error) {
  const bool server = options->command == Command::kServer;
  if (name == "--port") {
    if (!IsPortText(value)) {
      *error = "--port takes a whole number from 1 to 65535, not \"" + value + "\"";
      return false;
    }
    options->port = value;
  } else if (name == "--device") {
    options->device = value;
  } else if (name == "--volume" && server) {
    int volume = 0;
    if (!ParseVolume(value, &volume)) {
      *error = "--volume takes a whole number of dB from -50 to 0";
      return false;
    }
    options->volume = volume;
  } else if ((name == "--listen" || name == "--allow") && server) {
    return ApplyPeerOption(name, value, options, error);
  } else if (name == "--latency" && server) {
    long ms = 0;
    if (!ParseLatency(value, &ms)) {
      *error = "--latency takes auto or a whole number of ms from 10 to 1400";
      return false;
    }
    options->latencyMs = ms;
  } else if (name == "--seconds" || name == "--retry") {
    double seconds = 0;
    if (!ParseSeconds(value, &seconds)) {
      *error = name + " takes a number of seconds above 0 and at most 86400 (a day), not \"" +
               value + "\"";
      return false;
    }
    (name == "--seconds" ? options->seconds : options->retry) = seconds;
  } else if (name == "--name" && server) {
    if (!ValidInstanceName(value)) {
      *error = "--name takes a name of 1 to 63 bytes";
      return false;
    }
    options->name = value;
  } else {
    *error = "unknown option " + name;
    return false;
  }
  return true;
}

bool ParseRunOptions(const std::vector<std::string>& args, size_t first, Options* options,
                     std::string* error) {
  for (size_t i = first; i < args.size(); ++i) {
    if (args[i] == "-q" || args[i] == "-v") {
      options->verbosity = args[i] == "-q" ? Verbosity::kQuiet : Verbosity::kVerbose;
      continue;
    }
    if (args[i] == "--save") {
      options->save = true;
      continue;
    }
    if (args[i].rfind("--", 0) != 0) {
      *error = "unexpected argument " + args[i];
      return false;
    }
    std::string name;
    std::string value;
    if (!TakeOptionValue(args, &i, &name, &value)) {
      *error = name + " needs a value";
      return false;
    }
    if (!ApplyOption(name, value, options, error)) {
      return false;
    }
  }
  return true;
}

bool ParseDevices(const std::vector<std::string>& args, Options* options, std::string* error) {
  if (args.size() != 2 || (args[1] != "capture" && args[1] != "playback")) {
    *error = "devices takes one argument: capture or playback";
    return false;
  }
  options->command = Command::kDevices;
  options->playbackDevices = args[1] == "playback";
  return true;
}

// servers [--seconds S]
bool ParseServers(const std::vector<std::string>& args, Options* options, std::string* error) {
  options->command = Command::kServers;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string name;
    std::string value;
    if (args[i].rfind("--seconds", 0) != 0 || !TakeOptionValue(args, &i, &name, &value) ||
        name != "--seconds") {
      *error = "servers takes --seconds S only";
      return false;
    }
    double seconds = 0;
    if (!ParseSeconds(value, &seconds)) {
      *error = "--seconds takes a number of seconds above 0 and at most 86400 (a day), not \"" +
               value + "\"";
      return false;
    }
    options->seconds = seconds;
  }
  return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
  std::vector<std::string> args(argv + 1, argv + argc);
  *options = Options{};
  if (args.empty()) {
    *error = "a command is missing";
    return false;
  }
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      options->command = Command::kHelp;
      return true;
    }
    if (arg == "--version") {
      options->command = Command::kVersion;
      return true;
    }
  }
  const std::string& command = args[0];
  if (command == "devices") {
    return ParseDevices(args, options, error);
  }
  if (command == "server") {
    options->command = Command::kServer;
    return ParseRunOptions(args, 1, options, error);
  }
  if (command == "client") {
    if (args.size() < 2 || args[1].rfind("--", 0) == 0) {
      *error = "client needs the target HOST";
      return false;
    }
    options->command = Command::kClient;
    options->host = args[1];
    return ParseRunOptions(args, 2, options, error);
  }
  if (command == "servers") {
    return ParseServers(args, options, error);
  }
  *error = "unknown command " + command;
  return false;
}

const char* VersionText() { return "tonewire-cli " TW_VERSION "\n"; }

const char* UsageText() {
  return "Usage:\n"
         "  tonewire-cli devices capture|playback\n"
         "  tonewire-cli server [--port N] [--device TEXT] [--volume DB] [--listen ADDR]\n"
         "                     [--allow NETS] [--latency auto|MS] [OPTIONS]\n"
         "  tonewire-cli client HOST [--port N] [--device TEXT] [OPTIONS]\n"
         "  tonewire-cli servers [--seconds S]\n"
         "  tonewire-cli --help | --version\n"
         "\n"
         "Drives the \"Audio streamer\" window without a display.\n"
         "  devices   lists the capture (Client) or playback (Server) devices;\n"
         "            * marks the one chosen for you\n"
         "  server    listens on the port and plays what a Client sends\n"
         "  client    captures sound and sends it to HOST: a name, an IPv4 or an IPv6 address\n"
         "            or a Server's announced name\n"
         "  servers   lists the Servers announced on the local network: name, host,\n"
         "            address, port; with --seconds, listens that long\n"
         "\n"
         "  --port N       target port, 1 to 65535 (default 5567; a Client given a\n"
         "                 Server's announced name: the port it announced)\n"
         "  --device TEXT  the first device whose name contains TEXT, any case\n"
         "  --volume DB    Server volume, -50 (quietest) to 0 dB (default 0)\n"
         "  tonewire-cli server [--port N] [--device TEXT] [--volume DB] [--listen ADDR]\n"
         "                     [--allow NETS] [--latency auto|MS] [OPTIONS]\n"
         "  --seconds S    close the window S seconds after Start (default: on SIGINT/SIGTERM)\n"
         "  --retry S      when a run ends by itself (Server gone, connection refused, an\n"
         "                 error), press Start again after S seconds, for ever; the pause\n"
         "                 doubles up to 60 s and starts again at S after a run that streamed\n"
         "  tonewire-cli server [--port N] [--device TEXT] [--volume DB] [--listen ADDR]\n"
         "                     [--allow NETS] [--latency auto|MS] [OPTIONS]\n"
         "  -q             print error lines only\n"
         "  -v             print every status text, also on a pipe\n"
         "  Seconds are decimal numbers above 0, at most 86400 (a day).\n"
         "\n"
         "Status texts go to stdout, message boxes to stderr as CAPTION: TEXT, followed by\n"
         "the Linux wording of the cause where there is one, e.g. (connection refused).\n"
         "On a pipe or in a log the Server's \"Received\" texts become one line at most\n"
         "every 10 s with the bytes and the rate.\n"
         "Exit status: 0 when closed by a signal or --seconds, or when the run ended\n"
         "without an error box; 1 when Start started no run or the run ended after an\n"
         "error box; 2 for bad arguments or a device that is not listed.\n";
}

}  // namespace twcli
