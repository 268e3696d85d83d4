// What the stream benchmark measures: a way to carry the sound of
// "Mic.monitor" over TCP on 127.0.0.1 into "Speakers", as processes on a
// client side and a server side.
//
//   TonewireSetup   tonewire-cli server and tonewire-cli client
//   PipelineSetup   nc -l | pacat  and  parec | nc, the Unix tools' way
//
// And a test client that sends a stream header of any format to a
// tonewire-cli server, then silence at real-time pace.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace twbench {

using twtest::Clock;

class Setup {
 public:
  virtual ~Setup() = default;
  virtual std::string name() const = 0;
  // The server side listens on the port once this returns true.
  virtual bool StartServerSide(int port, std::string* failure) = 0;
  virtual bool StartClientSide(int port, std::string* failure) = 0;
  // When the client side was asked to start: Tonewire's Start, a pipeline's
  // launch.
  virtual Clock::time_point clientStartedAt() const = 0;
  virtual std::vector<pid_t> ClientPids() const = 0;
  virtual std::vector<pid_t> ServerPids() const = 0;
  // Ends both sides (SIGTERM, then SIGKILL after 5 s).
  virtual void Stop() = 0;
};

// Status texts of tonewire-cli.
inline constexpr char kWaiting[] = "Wait for incoming...";
inline constexpr char kStarting[] = "Running TCP client...";
inline constexpr char kStopped[] = "Stopped";

class TonewireSetup : public Setup {
 public:
  explicit TonewireSetup(std::string cliPath) : cliPath_(std::move(cliPath)) {}
  // Another capture entry for the client, and NAME=VALUE settings for each
  // side's environment.
  void Configure(std::string clientDevice, std::vector<std::string> clientEnvironment,
                 std::vector<std::string> serverEnvironment);
  std::string name() const override { return "tonewire-cli"; }
  bool StartServerSide(int port, std::string* failure) override;
  bool StartClientSide(int port, std::string* failure) override;
  Clock::time_point clientStartedAt() const override;
  std::vector<pid_t> ClientPids() const override;
  std::vector<pid_t> ServerPids() const override;
  void Stop() override;

  twtest::ChildProcess* client() { return client_.get(); }
  twtest::ChildProcess* server() { return server_.get(); }
  // Runs a new client in place of one that has ended.
  bool RestartClient(int port, std::string* failure);

 private:
  std::unique_ptr<twtest::ChildProcess> StartCli(const std::vector<std::string>& arguments,
                                                 const std::vector<std::string>& environment);

  const std::string cliPath_;
  std::string clientDevice_;
  std::vector<std::string> clientEnvironment_;
  std::vector<std::string> serverEnvironment_;
  std::unique_ptr<twtest::ChildProcess> server_;
  std::unique_ptr<twtest::ChildProcess> client_;
};

class PipelineSetup : public Setup {
 public:
  // latencyMs 0: the tools' own defaults; otherwise both tools' --latency-msec.
  explicit PipelineSetup(int latencyMs) : latencyMs_(latencyMs) {}
  std::string name() const override;
  bool StartServerSide(int port, std::string* failure) override;
  bool StartClientSide(int port, std::string* failure) override;
  Clock::time_point clientStartedAt() const override { return clientStartedAt_; }
  std::vector<pid_t> ClientPids() const override;
  std::vector<pid_t> ServerPids() const override;
  void Stop() override;

 private:
  const int latencyMs_;
  Clock::time_point clientStartedAt_;
  std::unique_ptr<twtest::ChildProcess> listener_;  // nc -l
  std::unique_ptr<twtest::ChildProcess> player_;    // pacat
  std::unique_ptr<twtest::ChildProcess> recorder_;  // parec
  std::unique_ptr<twtest::ChildProcess> sender_;    // nc
};

// Connects to 127.0.0.1:port, sends a header announcing the format, then
// silence at the pace the format plays, for `seconds`. False when the
// connection failed or broke.
struct StreamFormat {
  int samplesPerSecond;
  int channels;
  int bitsPerSample;
};
bool StreamSilence(int port, const StreamFormat& format, double seconds);

// User plus system CPU seconds and peak resident memory (MB) of processes,
// summed.
struct SideStats {
  bool known = false;
  double cpuSeconds = 0;
  double peakMb = 0;
};
SideStats ReadSideStats(const std::vector<pid_t>& pids);

}  // namespace twbench
