#include "tests/windows/wine_rig.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/support/pulse_environment.h"

extern char** environ;

namespace twtest {
namespace {

constexpr int kBootTimeoutMs = 180000;  // a fresh prefix takes 15-60 s
constexpr int kDisplayWaitMs = 10000;

std::unique_ptr<ChildProcess> display;
std::string wineLoader;
std::string failure = "not set up";
bool usable = false;

bool IsExecutable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// Debian keeps the 64-bit loader out of PATH; elsewhere it is wine64 or wine.
std::string FindWineLoader() {
  std::vector<std::string> candidates = {"/usr/lib/wine/wine64"};
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    candidates.push_back(folder + "/wine64");
    candidates.push_back(folder + "/wine");
  }
  for (const std::string& candidate : candidates) {
    if (IsExecutable(candidate)) {
      return candidate;
    }
  }
  return "";
}

// Runs a program with every standard stream on a log file and waits for it.
// For Wine's own start-up programs, whose background servers would otherwise
// hold a reader's pipe open. The exit status, or -1.
int RunLogged(const std::vector<std::string>& argv, const std::string& log, int timeoutMs) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return -1;
  }
  int status = 0;
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

std::string LogTail(const std::string& log) {
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

std::string DisplayFile(const char* before, int number, const char* after) {
  std::string path = before;
  path += std::to_string(number);
  path += after;
  return path;
}

// A free display number: no lock file and no socket.
int FreeDisplay() {
  for (int number = 91; number < 200; ++number) {
    if (::access(DisplayFile("/tmp/.X", number, "-lock").c_str(), F_OK) != 0 &&
        ::access(DisplayFile("/tmp/.X11-unix/X", number, "").c_str(), F_OK) != 0) {
      return number;
    }
  }
  return -1;
}

bool StartDisplay(std::string* reason) {
  const int number = FreeDisplay();
  if (number < 0) {
    *reason = "no free X display number";
    return false;
  }
  const std::string name = DisplayFile(":", number, "");
  display = std::make_unique<ChildProcess>(
      ChildOptions{{"Xvfb", name, "-nolisten", "tcp", "-screen", "0", "1024x768x24"}, {}, false});
  const std::string socket = DisplayFile("/tmp/.X11-unix/X", number, "");
  for (int waited = 0; waited < kDisplayWaitMs; waited += 50) {
    if (::access(socket.c_str(), F_OK) == 0) {
      ::setenv("DISPLAY", name.c_str(), 1);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  *reason = "Xvfb did not open display " + name;
  return false;
}

std::string WineServer() { return wineLoader.substr(0, wineLoader.rfind('/')) + "/wineserver"; }

bool BootPrefix(std::string* reason) {
  const std::string build = WindowsBuildDir();
  const std::string prefix = build + "/wineprefix";
  const std::string log = build + "/wine.log";
  ::setenv("WINEPREFIX", prefix.c_str(), 1);
  ::setenv("WINEDEBUG", "-all", 1);
  ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);  // no download prompts
  ::setenv("WINEARCH", "win64", 1);
  // One server for the whole program, started apart from any reader. It
  // works in the prefix folder, which has to exist first.
  ::mkdir(prefix.c_str(), 0700);
  if (RunLogged({WineServer(), "-p"}, log, 30000) != 0) {
    *reason = "wineserver did not start:\n" + LogTail(log);
    return false;
  }
  if (RunLogged({wineLoader, "wineboot", "-i"}, log, kBootTimeoutMs) != 0) {
    *reason = "wineboot failed:\n" + LogTail(log);
    return false;
  }
  return true;
}

}  // namespace

std::string WindowsBuildDir() {
  const char* configured = std::getenv("TW_WINDOWS_BUILD");
  return configured && *configured ? configured : TW_DEFAULT_WINDOWS_BUILD;
}

void WineEnvironment::SetUp() {
  wineLoader = FindWineLoader();
  if (wineLoader.empty()) {
    failure = "no wine64 (scripts/install-deps.sh installs it)";
    return;
  }
  const std::string tests = WindowsBuildDir() + "/tests/tonewire_tests.exe";
  if (::access(tests.c_str(), R_OK) != 0) {
    failure = tests + " is missing (scripts/build-windows.sh builds it)";
    return;
  }
  usable = StartDisplay(&failure) && BootPrefix(&failure);
}

void WineEnvironment::TearDown() {
  if (!wineLoader.empty()) {
    RunLogged({WineServer(), "-k"}, "/dev/null", 30000);
  }
  display.reset();
}

bool WineEnvironment::ready() { return usable; }
const std::string& WineEnvironment::reason() { return failure; }

ChildOptions WineProgram(const std::string& program, const std::vector<std::string>& arguments) {
  ChildOptions options;
  options.argv = {wineLoader, WindowsBuildDir() + "/" + program};
  options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
  return options;
}

}  // namespace twtest
