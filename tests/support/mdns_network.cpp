#include "tests/support/mdns_network.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/daemon_process.h"

namespace twtest {
namespace {

constexpr int kCommandMs = 10000;
constexpr auto kDaemonStartLimit = std::chrono::seconds(15);
constexpr auto kPoll = std::chrono::milliseconds(50);

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A system bus that lets everyone own and call everything: the test's own.
std::string BusConfig(const std::string& socket) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>system</type>\n"
         "  <listen>unix:path=" +
         socket +
         "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow user=\"*\"/>\n"
         "    <allow own=\"*\"/>\n"
         "    <allow send_destination=\"*\"/>\n"
         "    <allow receive_sender=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

// The daemon on the veth end alone, IPv4, with its own host name and no
// records of its own but the address.
std::string MdnsConfig(const std::string& hostName, const std::string& interface) {
  return "[server]\nhost-name=" + hostName +
         "\ndomain-name=local\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=" + interface +
         "\nenable-dbus=yes\n"
         "[wide-area]\nenable-wide-area=no\n"
         "[publish]\npublish-hinfo=no\npublish-workstation=no\npublish-addresses=yes\n";
}

bool LogSays(const std::string& path, const std::string& text) {
  std::ifstream file(path);
  const std::string contents((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  return contents.find(text) != std::string::npos;
}

}  // namespace

MdnsSide::MdnsSide(std::string folder, std::string label, std::string address)
    : folder_(std::move(folder)), label_(std::move(label)), address_(std::move(address)) {
  // Interface names are per namespace, but the pair is made in ours first.
  interface_ = "tw" + std::to_string(::getpid() % 100000) + label_;
}

MdnsSide::~MdnsSide() {
  StopMdnsDaemon();
  ReapDaemon(&bus_, SIGTERM, 2000);
  ReapDaemon(&holder_, SIGKILL, 2000);  // the namespace and its veth end go with it
}

bool MdnsSide::MakeNamespace(std::string* failure) {
  holder_ = StartDaemon({"unshare", "-n", "sleep", "infinity"}, PrivateEnvironment({}),
                        folder_ + "/holder-" + label_ + ".log");
  // The holder has entered its namespace once its network differs from ours.
  const std::string ours = std::filesystem::read_symlink("/proc/self/ns/net").string();
  const auto deadline = std::chrono::steady_clock::now() + kDaemonStartLimit;
  while (StillRunning(&holder_) && std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    const auto theirs =
        std::filesystem::read_symlink("/proc/" + std::to_string(holder_) + "/ns/net", error);
    if (!error && theirs.string() != ours) {
      return RunHere({"ip", "link", "set", "lo", "up"}, failure);
    }
    std::this_thread::sleep_for(kPoll);
  }
  *failure =
      "no network namespace (unshare -n): " + FileTail(folder_ + "/holder-" + label_ + ".log");
  return false;
}

bool MdnsSide::StartDaemons(std::string* failure) {
  const std::string socket = folder_ + "/bus-" + label_;
  WriteFile(folder_ + "/bus-" + label_ + ".conf", BusConfig(socket));
  WriteFile(folder_ + "/mdns-" + label_ + ".conf", MdnsConfig("tw-" + label_, interface_));
  std::vector<std::string> bus = Launcher();
  bus.insert(bus.end(), {"dbus-daemon", "--config-file=" + folder_ + "/bus-" + label_ + ".conf",
                         "--nofork", "--nopidfile"});
  bus_ = StartDaemon(bus, PrivateEnvironment({}), folder_ + "/bus-" + label_ + ".log");
  const auto deadline = std::chrono::steady_clock::now() + kDaemonStartLimit;
  while (!SocketAccepts(socket)) {
    if (!StillRunning(&bus_) || std::chrono::steady_clock::now() > deadline) {
      *failure = "the message bus did not start: " + FileTail(folder_ + "/bus-" + label_ + ".log");
      return false;
    }
    std::this_thread::sleep_for(kPoll);
  }
  // The daemon keeps its pid file and socket in /run/avahi-daemon: a
  // private /run (its own mount namespace) keeps two of them and the
  // machine's apart.
  const std::string log = folder_ + "/mdns-" + label_ + ".log";
  std::vector<std::string> mdns = Launcher();
  mdns.insert(
      mdns.end(),
      {"unshare", "-m", "sh", "-c",
       "mount -t tmpfs tmpfs /run && mkdir /run/avahi-daemon && exec avahi-daemon -f \"$0\" "
       "--no-drop-root --no-chroot --no-rlimits --no-proc-title",
       folder_ + "/mdns-" + label_ + ".conf"});
  mdns_ = StartDaemon(mdns, Environment(), log);
  while (!LogSays(log, "Server startup complete")) {
    if (!StillRunning(&mdns_) || std::chrono::steady_clock::now() > deadline) {
      *failure = "the mDNS daemon did not start: " + FileTail(log);
      return false;
    }
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

void MdnsSide::StopMdnsDaemon() { ReapDaemon(&mdns_, SIGTERM, 3000); }

std::vector<std::string> MdnsSide::Launcher() const {
  return {"nsenter", "-t", std::to_string(holder_), "-n", "--"};
}

std::vector<std::string> MdnsSide::Environment() const {
  return PrivateEnvironment(
      {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + folder_ + "/bus-" + label_}});
}

std::vector<std::string> MdnsSide::EnvironmentWithoutDaemon() {
  std::vector<std::string> environment = PrivateEnvironment({});
  environment.push_back(kNoSystemBus);
  return environment;
}

bool MdnsSide::RunHere(const std::vector<std::string>& command, std::string* failure) const {
  std::vector<std::string> argv = Launcher();
  argv.insert(argv.end(), command.begin(), command.end());
  bool ok = false;
  RunToEnd(argv, kCommandMs, &ok);
  if (!ok) {
    std::string text;
    for (const std::string& part : argv) {
      text += part + " ";
    }
    *failure = "failed: " + text;
  }
  return ok;
}

MdnsNetwork::MdnsNetwork() {
  char pattern[] = "/tmp/tw-mdns-XXXXXX";
  folder_ = ::mkdtemp(pattern) != nullptr ? pattern : "";
  sides_[0] = std::make_unique<MdnsSide>(folder_, "a", "10.77.0.1");
  sides_[1] = std::make_unique<MdnsSide>(folder_, "b", "10.77.0.2");
  ready_ = !folder_.empty() && Build();
}

MdnsNetwork::~MdnsNetwork() {
  sides_[0].reset();
  sides_[1].reset();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

bool MdnsNetwork::Build() {
  MdnsSide& a = first();
  MdnsSide& b = second();
  if (!a.MakeNamespace(&failure_) || !b.MakeNamespace(&failure_)) {
    return false;
  }
  bool ok = false;
  RunToEnd({"ip", "link", "add", a.interfaceName(), "netns", std::to_string(a.holder()), "type",
            "veth", "peer", "name", b.interfaceName(), "netns", std::to_string(b.holder())},
           kCommandMs, &ok);
  if (!ok) {
    failure_ = "no veth pair between the namespaces";
    return false;
  }
  for (MdnsSide* side : {&a, &b}) {
    std::vector<std::string> up = side->Launcher();
    up.insert(up.end(), {"sh", "-c", "ip addr add \"$0\"/24 dev \"$1\" && ip link set \"$1\" up",
                         side->address(), side->interfaceName()});
    RunToEnd(up, kCommandMs, &ok);
    if (!ok) {
      failure_ = "cannot bring up " + side->interfaceName();
      return false;
    }
  }
  return a.StartDaemons(&failure_) && b.StartDaemons(&failure_);
}

}  // namespace twtest
