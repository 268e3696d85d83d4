#include "tests/cli/cli_process.h"

namespace twtest {
namespace {

ChildOptions CliOptions(const std::vector<std::string>& args, bool ownNetwork) {
  ChildOptions options;
  options.argv = {TW_CLI_PATH};
  if (ownNetwork) {
    options.argv = {"unshare",  "-n", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\"",
                    TW_CLI_PATH};
  }
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.environment = {"TONEWIRE_AUDIO=builtin"};
  return options;
}

ChildOptions LaunchedOptions(const std::vector<std::string>& args,
                             const std::vector<std::string>& launcher,
                             const std::vector<std::string>& environment) {
  ChildOptions options;
  options.argv = launcher;
  options.argv.push_back(TW_CLI_PATH);
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.environment = environment;
  options.environment.push_back("TONEWIRE_AUDIO=builtin");
  return options;
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args) : CliProcess(args, false) {}

CliProcess::CliProcess(const std::vector<std::string>& args, bool ownNetwork)
    : child_(CliOptions(args, ownNetwork)) {}

CliProcess::CliProcess(const std::vector<std::string>& args,
                       const std::vector<std::string>& launcher,
                       const std::vector<std::string>& environment)
    : child_(LaunchedOptions(args, launcher, environment)) {}

int CliProcess::Wait(int timeoutMs) {
  const int status = child_.Wait(timeoutMs);
  if (child_.Ended()) {
    child_.DrainOutput();  // the pipes reach their end: every line is in
  }
  return status;
}

std::vector<std::string> CliProcess::OutLines() const {
  std::vector<std::string> texts;
  for (const TimedLine& line : child_.Lines()) {
    texts.push_back(line.text);
  }
  return texts;
}

}  // namespace twtest
