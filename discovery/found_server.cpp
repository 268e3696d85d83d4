#include "discovery/found_server.h"

#include <algorithm>
#include <tuple>

namespace twdisc {
namespace {

auto Key(const FoundServer& server) {
  return std::tie(server.instance, server.host, server.address, server.port);
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

}  // namespace

std::string ServerLine(const FoundServer& server) {
  return server.instance + '\t' + server.host + '\t' + server.address + '\t' +
         std::to_string(server.port);
}

void SortUnique(std::vector<FoundServer>* servers) {
  std::sort(servers->begin(), servers->end(),
            [](const FoundServer& a, const FoundServer& b) { return Key(a) < Key(b); });
  servers->erase(
      std::unique(servers->begin(), servers->end(),
                  [](const FoundServer& a, const FoundServer& b) { return Key(a) == Key(b); }),
      servers->end());
}

const FoundServer* FindByInstance(const std::vector<FoundServer>& servers,
                                  const std::string& name) {
  for (const FoundServer& server : servers) {
    if (SameName(server.instance, name)) {
      return &server;
    }
  }
  return nullptr;
}

}  // namespace twdisc
