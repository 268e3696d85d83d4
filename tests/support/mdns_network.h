// Two network namespaces of the test's own, joined by a veth pair
// (10.77.0.1/24 and 10.77.0.2/24 at its ends; nothing else is reachable
// from either), each with a private system message bus and an mDNS daemon
// (Avahi) on it, so that announcements and lookups stay between the two.
// A program runs on a side through Launcher() with Environment(), which
// points the daemon's client library at that side's bus.
//
// Under CI (CI=true) a rig that cannot start fails the test; elsewhere the
// test skips with the reason.
//
// Thread contract: one owner thread.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace twtest {

class MdnsSide {
 public:
  MdnsSide(std::string folder, std::string label, std::string address);
  ~MdnsSide();
  MdnsSide(const MdnsSide&) = delete;
  MdnsSide& operator=(const MdnsSide&) = delete;

  // The namespace, empty until its holder runs.
  bool MakeNamespace(std::string* failure);
  // The bus and the daemon, once the link is up; false with the reason.
  bool StartDaemons(std::string* failure);
  // Stops the daemon (the bus stays): the side's programs find none.
  void StopMdnsDaemon();

  pid_t holder() const { return holder_; }
  const std::string& address() const { return address_; }
  const std::string& interfaceName() const { return interface_; }
  // Prefix for a command run in the namespace.
  std::vector<std::string> Launcher() const;
  // The caller's environment with the side's bus as the system bus.
  std::vector<std::string> Environment() const;
  // The same with a bus that does not exist: no daemon answers.
  static std::vector<std::string> EnvironmentWithoutDaemon();

 private:
  bool RunHere(const std::vector<std::string>& command, std::string* failure) const;

  std::string folder_;
  std::string label_;
  std::string address_;
  std::string interface_;
  pid_t holder_ = -1;
  pid_t bus_ = -1;
  pid_t mdns_ = -1;
};

class MdnsNetwork {
 public:
  MdnsNetwork();
  ~MdnsNetwork();

  bool ready() const { return ready_; }
  const std::string& failure() const { return failure_; }
  MdnsSide& first() { return *sides_[0]; }
  MdnsSide& second() { return *sides_[1]; }

 private:
  bool Build();

  std::string folder_;
  std::unique_ptr<MdnsSide> sides_[2];
  bool ready_ = false;
  std::string failure_;
};

}  // namespace twtest
