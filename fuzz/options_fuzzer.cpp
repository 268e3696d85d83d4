// Arbitrary command lines for tonewire-cli (arguments split at NUL bytes):
// a command line is either refused with a one-line reason, or every value
// taken is one the window and the clock can honour.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/options.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

bool IsPort(const std::string& text) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const long port = std::strtol(text.c_str(), nullptr, 10);
  return port >= 1 && port <= 65535;
}

bool IsDuration(const std::optional<double>& seconds) {
  return !seconds || (*seconds > 0 && *seconds <= 86400);
}

void CheckTaken(const twcli::Options& options) {
  if (options.port && !IsPort(*options.port)) {
    Fail("a port outside 1..65535 was taken");
  }
  if (!IsDuration(options.seconds) || !IsDuration(options.retry)) {
    Fail("a duration outside (0, 86400] was taken");
  }
  if (options.volume && (*options.volume < -50 || *options.volume > 0)) {
    Fail("a volume outside -50..0 was taken");
  }
  if (options.listen.size() > kMostListenAddresses) {
    Fail("too many listen addresses were taken");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::vector<std::string> args = {"tonewire-cli"};
  std::string arg;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      args.push_back(arg);
      arg.clear();
    } else {
      arg.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(arg);
  std::vector<const char*> argv;
  for (const std::string& each : args) {
    argv.push_back(each.c_str());
  }
  twcli::Options options;
  std::string error;
  if (twcli::ParseOptions(static_cast<int>(argv.size()), argv.data(), &options, &error)) {
    CheckTaken(options);
  } else if (error.empty()) {
    Fail("a refused command line without a reason");
  }
  return 0;
}
