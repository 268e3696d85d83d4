#include "tests/cli/cli_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace twtest {
namespace {

std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "TONEWIRE_AUDIO=", 15) != 0) {
      variables.push_back(*entry);
    }
  }
  variables.push_back("TONEWIRE_AUDIO=builtin");
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args) : CliProcess(args, false) {}

CliProcess::CliProcess(const std::vector<std::string>& args, bool ownNetwork) {
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    return;
  }
  std::vector<std::string> argv = {TW_CLI_PATH};
  if (ownNetwork) {
    argv = {"unshare", "-n", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\"", TW_CLI_PATH};
  }
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> environment = ChildEnvironment();
  std::vector<char*> argvPointers = Pointers(argv);
  std::vector<char*> environmentPointers = Pointers(environment);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  if (posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, argvPointers.data(),
                   environmentPointers.data()) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  out_.fd = outPipe[0];
  err_.fd = errPipe[0];
  out_.reader = std::thread([this] { Read(out_); });
  err_.reader = std::thread([this] { Read(err_); });
}

CliProcess::~CliProcess() {
  if (pid_ > 0 && Wait(0) == -1 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  JoinReaders();
}

void CliProcess::JoinReaders() {
  for (Stream* stream : {&out_, &err_}) {
    if (stream->reader.joinable()) {
      stream->reader.join();
    }
    if (stream->fd >= 0) {
      close(stream->fd);
      stream->fd = -1;
    }
  }
}

void CliProcess::Read(Stream& stream) {
  char buffer[4096];
  for (;;) {
    ssize_t count = read(stream.fd, buffer, sizeof buffer);
    if (count <= 0) {
      return;  // the child's end closed (or failed): no more lines
    }
    std::lock_guard<std::mutex> lock(mutex_);
    stream.partial.append(buffer, static_cast<size_t>(count));
    size_t end;
    while ((end = stream.partial.find('\n')) != std::string::npos) {
      stream.lines.push_back(stream.partial.substr(0, end));
      stream.partial.erase(0, end + 1);
    }
    changed_.notify_all();
  }
}

void CliProcess::Signal(int signal) {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, signal);
  }
}

int CliProcess::Wait(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pid_ > 0 && !reaped_) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      JoinReaders();  // the pipes reach their end: every line is in
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

bool CliProcess::WaitForLine(const Stream& stream, const std::string& text, bool prefix, int times,
                             int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    int seen = 0;
    for (const std::string& line : stream.lines) {
      if (prefix ? line.rfind(text, 0) == 0 : line == text) {
        ++seen;
      }
    }
    return seen >= times;
  });
}

bool CliProcess::WaitForOutLine(const std::string& line, int timeoutMs, int times) {
  return WaitForLine(out_, line, false, times, timeoutMs);
}

bool CliProcess::WaitForErrLinePrefix(const std::string& prefix, int timeoutMs) {
  return WaitForLine(err_, prefix, true, 1, timeoutMs);
}

std::vector<std::string> CliProcess::OutLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_.lines;
}

std::vector<std::string> CliProcess::ErrLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_.lines;
}

}  // namespace twtest
