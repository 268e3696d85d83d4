#include "cli/program.h"

#include <unistd.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/entry.h"
#include "app/settings.h"
#include "cli/announced_port.h"
#include "cli/cli_host.h"
#include "cli/console.h"
#include "cli/options.h"
#include "cli/servers_command.h"
#include "cli/stop_signals.h"
#include "cli/window_driver.h"
#include "core/app_state.h"
#include "core/peer_networks.h"
#include "discovery/host_discovery.h"
#include "run/run_commands.h"

#if defined(__SANITIZE_ADDRESS__)
#define TW_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TW_LEAK_CHECK 1
#endif
#endif
#ifdef TW_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// A worker stopped through the window has released its socket and sound
// objects within this; one still running is held somewhere (a connect
// attempt) and ends with the process.
constexpr DWORD kWorkerEndMs = 5000;

void WaitForWorker() { WaitForWorkerEnd(kWorkerEndMs); }

// Ends the process as Windows does when the entry returns: threads still
// finishing (a worker's thread-local state is torn down after its handle is
// signalled) end with it, and no static destructor runs under them.
[[noreturn]] void EndProcess(int exitCode) {
  std::fflush(nullptr);
#ifdef TW_LEAK_CHECK
  __lsan_do_leak_check();  // the check exit() would have run; exits with its own status on a leak
#endif
  std::_Exit(exitCode);
}

int RunWindow(const twcli::Options& options) {
  const bool stream = options.command != twcli::Command::kDevices;
  const bool quiet = options.verbosity == twcli::Verbosity::kQuiet;
  twcli::Console console(stream && !quiet && isatty(STDERR_FILENO) == 1);
  // A terminal shows every status as it comes; a pipe or a log gets the
  // "Received" texts summed up.
  twcli::StatusFilter filter(options.verbosity, isatty(STDOUT_FILENO) != 1);
  twcli::CliHost host(console, stream, filter);
  const twcli::StopSignalWaker waker([&host] { host.Wake(); });
  int exitCode = 1;
  std::thread driver([&] { exitCode = twcli::DriveWindow(options, host, console); });
  WinMain(nullptr, nullptr, nullptr, 0);
  host.MarkProgramEnded();
  driver.join();
  WaitForWorker();
  return exitCode;
}

}  // namespace

namespace twcli {

int RunProgram(int argc, char** argv) {
  twcli::Options options;
  std::string error;
  if (!twcli::ParseOptions(argc, argv, &options, &error)) {
    // One line, so that a service's log says what to mend.
    std::fprintf(stderr, "tonewire-cli: %s (tonewire-cli --help shows the usage)\n", error.c_str());
    return 2;
  }
  if (options.command == twcli::Command::kHelp) {
    std::fputs(twcli::UsageText(), stdout);
    return 0;
  }
  if (options.command == twcli::Command::kVersion) {
    std::fputs(twcli::VersionText(), stdout);
    return 0;
  }
  if (options.command == twcli::Command::kServers) {
    return twcli::ListServers(options.seconds);
  }
  if (options.command == twcli::Command::kServer) {
    SetServerPeers(ServerPeers{options.listen, options.allow});
  }
  // The desktop window's settings are the user's: read never, written only
  // when asked.
  SetSettingsUse(options.save ? SettingsUse::kWriteOnly : SettingsUse::kNone);
  if (options.save && options.name.has_value()) {
    twdisc::KeepInstanceName(*options.name);
  }
  twdisc::StartHostDiscovery(options.name.value_or(twdisc::DefaultInstanceName()));
  twcli::TakeAnnouncedPort(&options);
  if (options.latencyMs) {
    appState.latencyTargetMs.store(*options.latencyMs);
  }
  if (!twcli::BlockStopSignals()) {
    std::perror("tonewire-cli: signal mask");
    return 1;
  }
  EndProcess(RunWindow(options));
}

}  // namespace twcli
