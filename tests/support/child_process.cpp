#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace twtest {
namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr auto kDaemonPoll = std::chrono::milliseconds(20);

std::string VariableName(const std::string& assignment) {
  return assignment.substr(0, assignment.find('='));
}

// Ours with extra added or replacing; a child reaches no system message bus
// unless extra names one, so that a Server under test is announced on no
// real network.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> variables;
  std::vector<std::string> added = extra;
  const std::string bus = VariableName(kNoSystemBus);
  bool busGiven = false;
  for (const std::string& assignment : extra) {
    busGiven = busGiven || VariableName(assignment) == bus;
  }
  if (!busGiven) {
    added.push_back(kNoSystemBus);
  }
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const std::string& assignment : added) {
      replaced = replaced || VariableName(assignment) == VariableName(text);
    }
    if (!replaced) {
      variables.push_back(text);
    }
  }
  variables.insert(variables.end(), added.begin(), added.end());
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// In the child, between fork and exec: async-signal-safe calls only. The
// server ends with the thread that started it, even when that process dies
// without stopping it (a crash, a sanitizer halt, a test time-out).
[[noreturn]] void RunDaemon(pid_t parent, const char* log, char** argv, char** envp) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) {
    ::_exit(127);
  }
  const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::dup2(fd, 1);
    ::dup2(fd, 2);
  }
  ::execvpe(argv[0], argv, envp);
  ::_exit(127);
}

void CloseIfOpen(int* fd) {
  if (*fd >= 0) {
    ::close(*fd);
    *fd = -1;
  }
}

}  // namespace

ChildProcess::ChildProcess(const ChildOptions& options) {
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  int inPipe[2] = {-1, -1};
  if ((options.stdoutFd < 0 && ::pipe2(outPipe, O_CLOEXEC) != 0) ||
      ::pipe2(errPipe, O_CLOEXEC) != 0 || (options.pipeStdin && ::pipe2(inPipe, O_CLOEXEC) != 0)) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int childIn = options.pipeStdin ? inPipe[0] : options.stdinFd;
  if (childIn >= 0) {
    posix_spawn_file_actions_adddup2(&actions, childIn, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  const int childOut = options.stdoutFd >= 0 ? options.stdoutFd : outPipe[1];
  posix_spawn_file_actions_adddup2(&actions, childOut, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  std::vector<std::string> argv = options.argv;
  std::vector<std::string> environment = ChildEnvironment(options.environment);
  startedAt_ = Clock::now();
  if (::posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, Pointers(argv).data(),
                     Pointers(environment).data()) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  for (int* end : {&outPipe[1], &errPipe[1], &inPipe[0]}) {
    CloseIfOpen(end);
  }
  if (options.stdinFd >= 0) {
    ::close(options.stdinFd);
  }
  if (options.stdoutFd >= 0) {
    ::close(options.stdoutFd);
  }
  stdinFd_ = inPipe[1];
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  if (outFd_ >= 0) {
    outReader_ = options.rawStdout
                     ? std::thread([this] { ReadBytes(outFd_); })
                     : std::thread([this] { ReadLines(outFd_, &outLines_, &outPartial_); });
  }
  errReader_ = std::thread([this] { ReadLines(errFd_, &errLines_, &errPartial_); });
}

ChildProcess::~ChildProcess() {
  CloseStdin();
  if (pid_ > 0 && !Ended()) {
    ::kill(pid_, SIGKILL);
    Wait(5000);
  }
  JoinReaders();
}

void ChildProcess::JoinReaders() {
  for (std::thread* reader : {&outReader_, &errReader_}) {
    if (reader->joinable()) {
      reader->join();
    }
  }
  CloseIfOpen(&outFd_);
  CloseIfOpen(&errFd_);
}

void ChildProcess::ReadLines(int fd, std::vector<TimedLine>* lines, std::string* partial) {
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count <= 0) {
      return;  // the child's end is closed: no more output
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    partial->append(buffer, static_cast<size_t>(count));
    size_t end;
    while ((end = partial->find('\n')) != std::string::npos) {
      lines->push_back(TimedLine{partial->substr(0, end), now});
      partial->erase(0, end + 1);
    }
    changed_.notify_all();
  }
}

void ChildProcess::ReadBytes(int fd) {
  std::vector<std::uint8_t> buffer(kReadChunk);
  for (;;) {
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count <= 0) {
      return;
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_.insert(bytes_.end(), buffer.begin(), buffer.begin() + count);
    arrivals_.push_back(Arrival{bytes_.size(), now});
    changed_.notify_all();
  }
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, signal);
  }
}

bool ChildProcess::Ended() {
  if (pid_ <= 0 || reaped_) {
    return true;
  }
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) {
    return false;
  }
  reaped_ = true;
  endedAt_ = Clock::now();
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  endSignal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return true;
}

int ChildProcess::Wait(int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Ended()) {
    if (Clock::now() >= deadline) {
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return status_;
}

bool ChildProcess::WaitForLine(const std::string& text, int timeoutMs, int times) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    int seen = 0;
    for (const TimedLine& line : outLines_) {
      seen += line.text == text ? 1 : 0;
    }
    return seen >= times;
  });
}

bool ChildProcess::WaitForErrorLinePrefix(const std::string& prefix, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return std::any_of(errLines_.begin(), errLines_.end(),
                       [&](const TimedLine& line) { return line.text.rfind(prefix, 0) == 0; });
  });
}

bool ChildProcess::LineTime(const std::string& text, Clock::time_point after,
                            Clock::time_point* at) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const TimedLine& line : outLines_) {
    if (line.text == text && line.at >= after) {
      *at = line.at;
      return true;
    }
  }
  return false;
}

int ChildProcess::CountLines(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int seen = 0;
  for (const TimedLine& line : outLines_) {
    seen += line.text == text ? 1 : 0;
  }
  return seen;
}

std::vector<TimedLine> ChildProcess::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outLines_;
}

std::vector<std::string> ChildProcess::ErrorLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> texts;
  for (const TimedLine& line : errLines_) {
    texts.push_back(line.text);
  }
  return texts;
}

std::uint64_t ChildProcess::ByteCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_.size();
}

bool ChildProcess::WaitForBytes(std::uint64_t total, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return bytes_.size() >= total; });
}

std::vector<std::uint8_t> ChildProcess::Bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

std::vector<std::uint8_t> ChildProcess::Bytes(std::uint64_t offset, std::uint64_t count) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t from = std::min<std::uint64_t>(offset, bytes_.size());
  const std::uint64_t to = std::min<std::uint64_t>(from + count, bytes_.size());
  return std::vector<std::uint8_t>(bytes_.begin() + from, bytes_.begin() + to);
}

std::vector<Arrival> ChildProcess::Arrivals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return arrivals_;
}

bool ChildProcess::WriteStdin(const void* data, size_t bytes) {
  const auto* next = static_cast<const char*>(data);
  while (bytes > 0 && stdinFd_ >= 0) {
    const ssize_t written = ::write(stdinFd_, next, bytes);
    if (written <= 0) {
      return false;
    }
    next += written;
    bytes -= static_cast<size_t>(written);
  }
  return bytes == 0;
}

void ChildProcess::CloseStdin() { CloseIfOpen(&stdinFd_); }

ProcessStats ReadProcessStats(pid_t pid) {
  ProcessStats stats;
  std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  // The command name may hold spaces; the fields after it are plain.
  const size_t nameEnd = text.rfind(')');
  if (nameEnd == std::string::npos) {
    return stats;
  }
  std::istringstream fields(text.substr(nameEnd + 2));
  std::vector<std::string> values;
  std::string value;
  while (fields >> value) {
    values.push_back(value);
  }
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  if (values.size() < 13) {
    return stats;
  }
  const double ticksPerSecond = static_cast<double>(::sysconf(_SC_CLK_TCK));
  stats.cpuSeconds = (std::stod(values[11]) + std::stod(values[12])) / ticksPerSecond;
  std::ifstream statusFile("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(statusFile, line)) {
    if (line.rfind("VmHWM:", 0) == 0) {
      stats.peakResidentMb = std::stod(line.substr(6)) / 1024.0;  // the kernel counts kB
    }
  }
  stats.known = true;
  return stats;
}

std::string RunToEnd(const std::vector<std::string>& argv, int timeoutMs, bool* ok) {
  ChildProcess child(ChildOptions{argv, {}, true});
  const int status = child.started() ? child.Wait(timeoutMs) : -1;
  child.Signal(SIGKILL);
  child.Wait(5000);
  *ok = status == 0;
  child.DrainOutput();
  const std::vector<std::uint8_t> bytes = child.Bytes();
  return *ok ? std::string(bytes.begin(), bytes.end()) : std::string();
}

pid_t StartDaemon(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                  const std::string& logPath) {
  std::vector<std::string> arguments = argv;
  std::vector<std::string> variables = environment;
  std::vector<char*> argPointers = Pointers(arguments);
  std::vector<char*> envPointers = Pointers(variables);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    RunDaemon(parent, logPath.c_str(), argPointers.data(), envPointers.data());
  }
  return pid;
}

bool StillRunning(pid_t* pid) {
  int status = 0;
  if (*pid > 0 && ::waitpid(*pid, &status, WNOHANG) == *pid) {
    *pid = -1;
  }
  return *pid > 0;
}

void ReapDaemon(pid_t* pid, int signal, int graceMs) {
  if (*pid <= 0) {
    return;
  }
  ::kill(*pid, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  int status = 0;
  while (::waitpid(*pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(*pid, SIGKILL);
      ::waitpid(*pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kDaemonPoll);
  }
  *pid = -1;
}

std::vector<std::string> WithoutDiscoveryOff(const std::vector<std::string>& lines) {
  std::vector<std::string> rest;
  bool seen = false;
  for (const std::string& line : lines) {
    if (!seen && line.rfind("Discovery is off (", 0) == 0) {
      seen = true;
      continue;
    }
    rest.push_back(line);
  }
  return rest;
}

}  // namespace twtest
