#include "bench/setups.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "core/stream_header.h"
#include "tests/e2e/sound_rig.h"
#include "tests/support/signal_analysis.h"

namespace twbench {
namespace {

constexpr int kWaitMs = 15000;
constexpr int kEndMs = 5000;
constexpr int kListenerStartMs = 300;  // nc -l has no ready signal
constexpr int kPaceStepMs = 2;

constexpr char kCapture[] = "Mic.monitor";
constexpr char kCaptureEntry[] = "Monitor of Mic";
constexpr char kPlayback[] = "Speakers";

void End(std::unique_ptr<twtest::ChildProcess>& child) {
  if (child == nullptr) {
    return;
  }
  child->Signal(SIGTERM);
  if (child->Wait(kEndMs) == -1 && !child->Ended()) {
    child->Signal(SIGKILL);
    child->Wait(kEndMs);
  }
}

std::vector<pid_t> PidsOf(std::initializer_list<const twtest::ChildProcess*> children) {
  std::vector<pid_t> pids;
  for (const twtest::ChildProcess* child : children) {
    if (child != nullptr && child->started()) {
      pids.push_back(child->pid());
    }
  }
  return pids;
}

// A pipe between two children: [0] their reading end, [1] their writing end.
bool MakePipe(int ends[2]) { return ::pipe2(ends, O_CLOEXEC) == 0; }

}  // namespace

void TonewireSetup::Configure(std::string clientDevice, std::vector<std::string> clientEnvironment,
                              std::vector<std::string> serverEnvironment) {
  clientDevice_ = std::move(clientDevice);
  clientEnvironment_ = std::move(clientEnvironment);
  serverEnvironment_ = std::move(serverEnvironment);
}

std::unique_ptr<twtest::ChildProcess> TonewireSetup::StartCli(
    const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  twtest::ChildOptions options;
  options.environment = environment;
  options.argv = {cliPath_};
  options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
  return std::make_unique<twtest::ChildProcess>(options);
}

bool TonewireSetup::StartServerSide(int port, std::string* failure) {
  server_ = StartCli({"server", "--port", std::to_string(port), "--device", kPlayback},
                     serverEnvironment_);
  if (!server_->WaitForLine(kWaiting, kWaitMs)) {
    *failure = "tonewire-cli server did not wait for a client";
    return false;
  }
  return true;
}

bool TonewireSetup::StartClientSide(int port, std::string* failure) {
  const std::string device = clientDevice_.empty() ? kCaptureEntry : clientDevice_;
  client_ = StartCli({"client", "127.0.0.1", "--port", std::to_string(port), "--device", device},
                     clientEnvironment_);
  if (!client_->WaitForLine("Transmitting", kWaitMs)) {
    *failure = "tonewire-cli client did not transmit";
    return false;
  }
  return true;
}

bool TonewireSetup::RestartClient(int port, std::string* failure) {
  End(client_);
  return StartClientSide(port, failure);
}

Clock::time_point TonewireSetup::clientStartedAt() const {
  Clock::time_point pressed = client_->startedAt();
  client_->LineTime(kStarting, Clock::time_point(), &pressed);
  return pressed;
}

std::vector<pid_t> TonewireSetup::ClientPids() const { return PidsOf({client_.get()}); }

std::vector<pid_t> TonewireSetup::ServerPids() const { return PidsOf({server_.get()}); }

void TonewireSetup::Stop() {
  End(client_);
  End(server_);
}

std::string PipelineSetup::name() const {
  if (latencyMs_ == 0) {
    return "parec|nc, nc|pacat (defaults)";
  }
  return "parec|nc, nc|pacat (" + std::to_string(latencyMs_) + " ms)";
}

bool PipelineSetup::StartServerSide(int port, std::string* failure) {
  int ends[2];
  if (!MakePipe(ends)) {
    *failure = "no pipe";
    return false;
  }
  twtest::ChildOptions listen;
  listen.argv = {"nc", "-d", "-l", "127.0.0.1", std::to_string(port)};  // -d: sends nothing back
  listen.stdoutFd = ends[1];
  listener_ = std::make_unique<twtest::ChildProcess>(listen);
  twtest::ChildOptions play = twtest::PlayerOptions(kPlayback, latencyMs_);
  play.pipeStdin = false;
  play.stdinFd = ends[0];
  player_ = std::make_unique<twtest::ChildProcess>(play);
  std::this_thread::sleep_for(std::chrono::milliseconds(kListenerStartMs));
  if (!listener_->started() || !player_->started() || listener_->Ended() || player_->Ended()) {
    *failure = "nc -l or pacat did not start";
    return false;
  }
  return true;
}

bool PipelineSetup::StartClientSide(int port, std::string* failure) {
  int ends[2];
  if (!MakePipe(ends)) {
    *failure = "no pipe";
    return false;
  }
  clientStartedAt_ = Clock::now();
  twtest::ChildOptions record = twtest::RecorderOptions(kCapture, latencyMs_);
  record.rawStdout = false;
  record.stdoutFd = ends[1];
  recorder_ = std::make_unique<twtest::ChildProcess>(record);
  twtest::ChildOptions send;
  send.argv = {"nc", "-N", "127.0.0.1", std::to_string(port)};
  send.stdinFd = ends[0];
  sender_ = std::make_unique<twtest::ChildProcess>(send);
  if (!recorder_->started() || !sender_->started()) {
    *failure = "parec or nc did not start";
    return false;
  }
  return true;
}

std::vector<pid_t> PipelineSetup::ClientPids() const {
  return PidsOf({recorder_.get(), sender_.get()});
}

std::vector<pid_t> PipelineSetup::ServerPids() const {
  return PidsOf({listener_.get(), player_.get()});
}

void PipelineSetup::Stop() {
  for (auto* child : {&recorder_, &sender_, &listener_, &player_}) {
    End(*child);
  }
}

bool StreamSilence(int port, const StreamFormat& format, double seconds) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) {
      ::close(fd);
    }
    return false;
  }
  const WAVEFORMATEX wave = twtest::PcmFormat(static_cast<WORD>(format.channels),
                                              static_cast<DWORD>(format.samplesPerSecond),
                                              static_cast<WORD>(format.bitsPerSample));
  const HeaderImage header = EncodeHeader(MakeHeader(wave, kBlockBytes));
  bool sent = ::send(fd, header.bytes, kHeaderBytes, MSG_NOSIGNAL) == kHeaderBytes;
  const std::vector<char> block(kBlockBytes, 0);
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  double sentBytes = 0;
  while (sent && Clock::now() < end) {
    const double due =
        std::chrono::duration<double>(Clock::now() - start).count() * wave.nAvgBytesPerSec;
    while (sent && sentBytes < due) {
      sent = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL) ==
             static_cast<ssize_t>(block.size());
      sentBytes += static_cast<double>(block.size());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPaceStepMs));
  }
  ::close(fd);
  return sent;
}

SideStats ReadSideStats(const std::vector<pid_t>& pids) {
  SideStats side;
  side.known = !pids.empty();
  for (pid_t pid : pids) {
    const twtest::ProcessStats stats = twtest::ReadProcessStats(pid);
    side.known = side.known && stats.known;
    side.cpuSeconds += stats.cpuSeconds;
    side.peakMb += stats.peakResidentMb;
  }
  return side;
}

}  // namespace twbench
