// A Server found on the local network, and how a listing shows it.
#pragma once

#include <string>
#include <vector>

namespace twdisc {

struct FoundServer {
  std::string instance;  // the announced name, e.g. "Kitchen"
  std::string host;      // the announcing machine's mDNS name, e.g. "box.local"
  std::string address;   // IPv4, dotted
  int port = 0;
};

// One listing line: instance, host, address and port, tab-separated (an
// instance name may hold spaces).
std::string ServerLine(const FoundServer& server);

// Sorted by instance name (then host, address, port), each Server once: a
// daemon reports a Server once per interface and protocol it heard it on.
void SortUnique(std::vector<FoundServer>* servers);

// The Server announced under name, compared as DNS-SD compares names (ASCII
// letters in any case); null when none is.
const FoundServer* FindByInstance(const std::vector<FoundServer>& servers, const std::string& name);

}  // namespace twdisc
