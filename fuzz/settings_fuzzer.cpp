// Arbitrary settings files: reading one never fails, writing what was read
// and reading it again gives the same keys, and every text value that reads
// as the Server's listen addresses or allowed networks reads back the same
// from the text kept for it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/peer_networks.h"
#include "platform/win32/settings_file.h"

namespace {

namespace settings = twplat::settings;

bool Same(const settings::Keys& a, const settings::Keys& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (auto left = a.begin(), right = b.begin(); left != a.end(); ++left, ++right) {
    if (left->first != right->first || left->second.size() != right->second.size()) {
      return false;
    }
    for (auto x = left->second.begin(), y = right->second.begin(); x != left->second.end();
         ++x, ++y) {
      if (x->first != y->first || x->second.type != y->second.type ||
          x->second.text != y->second.text || x->second.number != y->second.number) {
        return false;
      }
    }
  }
  return true;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

void CheckPeerTexts(const std::string& text) {
  std::string error;
  AllowedNetworks allowed;
  if (AllowedNetworks::Parse(text, &allowed, &error)) {
    AllowedNetworks again;
    if (!AllowedNetworks::Parse(allowed.Text(), &again, &error) || again.Text() != allowed.Text()) {
      Fail("allowed networks do not read back from their own text");
    }
  } else if (error.empty()) {
    Fail("a refused network text without a reason");
  }
  std::vector<PeerAddress> listen;
  if (ParseListenAddresses(text, &listen, &error)) {
    std::vector<PeerAddress> again;
    if (!ParseListenAddresses(ListenAddressesText(listen), &again, &error) || again != listen) {
      Fail("listen addresses do not read back from their own text");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const settings::Keys keys = settings::Parse(text);
  const settings::Keys again = settings::Parse(settings::Serialise(keys));
  if (!Same(keys, again)) {
    Fail("the settings do not read back from what was written");
  }
  for (const auto& [path, values] : keys) {
    for (const auto& [name, value] : values) {
      if (value.type == 1) {  // REG_SZ
        CheckPeerTexts(value.text);
      }
    }
  }
  return 0;
}
