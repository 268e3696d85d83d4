#include "core/peer_networks.h"

#include <cstdio>
#include <mutex>

namespace {

constexpr char kDefaultNetworks[] =
    "127.0.0.0/8,::1/128,10.0.0.0/8,172.16.0.0/12,192.168.0.0/16,100.64.0.0/10,169.254.0.0/16,"
    "fe80::/10,fc00::/7";
constexpr int kIpv4MappedPrefixBits = 96;  // ::ffff:0:0/96 holds the IPv4 addresses
constexpr int kAddressBits = 128;

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) {
      return parts;
    }
    start = end + 1;
  }
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return std::string();
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// 0..limit in at most digitsAllowed decimal digits, without leading zeros.
bool ParseDecimal(const std::string& text, size_t digitsAllowed, int limit, int* value) {
  if (text.empty() || text.size() > digitsAllowed || (text.size() > 1 && text[0] == '0')) {
    return false;
  }
  int number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    number = number * 10 + (c - '0');
  }
  *value = number;
  return number <= limit;
}

bool ParseIpv4(const std::string& text, std::uint8_t out[4]) {
  const std::vector<std::string> parts = SplitAt(text, '.');
  if (parts.size() != 4) {
    return false;
  }
  for (size_t i = 0; i < 4; ++i) {
    int value = 0;
    if (!ParseDecimal(parts[i], 3, 255, &value)) {
      return false;
    }
    out[i] = static_cast<std::uint8_t>(value);
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Colon-separated groups of one side of "::" as bytes; the last group may
// be a dotted IPv4 address (two groups) when ipv4Tail allows it.
bool ParseGroups(const std::string& text, bool ipv4Tail, std::vector<std::uint8_t>* bytes) {
  if (text.empty()) {
    return true;
  }
  const std::vector<std::string> groups = SplitAt(text, ':');
  for (size_t i = 0; i < groups.size(); ++i) {
    const std::string& group = groups[i];
    if (ipv4Tail && i + 1 == groups.size() && group.find('.') != std::string::npos) {
      std::uint8_t ipv4[4];
      if (!ParseIpv4(group, ipv4)) {
        return false;
      }
      bytes->insert(bytes->end(), ipv4, ipv4 + 4);
      continue;
    }
    if (group.empty() || group.size() > 4) {
      return false;
    }
    int value = 0;
    for (char c : group) {
      const int digit = HexDigit(c);
      if (digit < 0) {
        return false;
      }
      value = value * 16 + digit;
    }
    bytes->push_back(static_cast<std::uint8_t>(value >> 8));
    bytes->push_back(static_cast<std::uint8_t>(value & 0xFF));
  }
  return true;
}

bool ParseIpv6(const std::string& text, std::array<std::uint8_t, 16>* out) {
  const size_t gap = text.find("::");
  std::vector<std::uint8_t> head;
  std::vector<std::uint8_t> tail;
  if (gap == std::string::npos) {
    if (!ParseGroups(text, true, &head) || head.size() != 16) {
      return false;
    }
    std::copy(head.begin(), head.end(), out->begin());
    return true;
  }
  if (text.find("::", gap + 1) != std::string::npos ||
      !ParseGroups(text.substr(0, gap), false, &head) ||
      !ParseGroups(text.substr(gap + 2), true, &tail) || head.size() + tail.size() > 14) {
    return false;  // "::" stands for one zero group at least
  }
  out->fill(0);
  std::copy(head.begin(), head.end(), out->begin());
  std::copy(tail.begin(), tail.end(), out->end() - static_cast<std::ptrdiff_t>(tail.size()));
  return true;
}

std::string Ipv6Text(const std::array<std::uint8_t, 16>& bytes) {
  int groups[8];
  for (int i = 0; i < 8; ++i) {
    groups[i] = bytes[2 * i] << 8 | bytes[2 * i + 1];
  }
  // The longest run of two or more zero groups, the first of equals.
  int bestStart = -1;
  int bestLength = 1;
  for (int i = 0; i < 8;) {
    int end = i;
    while (end < 8 && groups[end] == 0) {
      ++end;
    }
    if (end - i > bestLength) {
      bestStart = i;
      bestLength = end - i;
    }
    i = end == i ? i + 1 : end;
  }
  std::string text;
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    char group[8];
    std::snprintf(group, sizeof group, "%x", groups[i]);
    if (!text.empty() && text.back() != ':') {
      text += ':';
    }
    text += group;
  }
  return text;
}

// Appends one item of a comma-separated list.
void AppendListed(std::string* list, const std::string& item) {
  if (!list->empty()) {
    list->push_back(',');
  }
  list->append(item);
}

// "\"text\" " followed by why, for an error line.
std::string Refusal(const std::string& text, const std::string& why) {
  std::string line = "\"";
  line.append(text).append("\" ").append(why);
  return line;
}

std::mutex& PeersMutex() {
  static std::mutex mutex;
  return mutex;
}

ServerPeers& PeersSetting() {
  static ServerPeers peers;
  return peers;
}

}  // namespace

bool PeerAddress::IsIpv4() const {
  for (size_t i = 0; i < 10; ++i) {
    if (bytes[i] != 0) {
      return false;
    }
  }
  return bytes[10] == 0xFF && bytes[11] == 0xFF;
}

bool ParsePeerAddress(const std::string& text, PeerAddress* address) {
  PeerAddress parsed;
  std::uint8_t ipv4[4];
  if (text.find(':') == std::string::npos) {
    if (!ParseIpv4(text, ipv4)) {
      return false;
    }
    parsed.bytes[10] = 0xFF;
    parsed.bytes[11] = 0xFF;
    std::copy(ipv4, ipv4 + 4, parsed.bytes.begin() + 12);
  } else if (!ParseIpv6(text, &parsed.bytes)) {
    return false;
  }
  *address = parsed;
  return true;
}

std::string PeerAddressText(const PeerAddress& address) {
  if (!address.IsIpv4()) {
    return Ipv6Text(address.bytes);
  }
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address.bytes[12], address.bytes[13],
                address.bytes[14], address.bytes[15]);
  return text;
}

bool AllowedNetworks::Block::Contains(const PeerAddress& address) const {
  for (int bit = 0; bit < prefixBits; bit += 8) {
    const int bits = prefixBits - bit < 8 ? prefixBits - bit : 8;
    const int mask = (0xFF << (8 - bits)) & 0xFF;
    if (((address.bytes[bit / 8] ^ first.bytes[bit / 8]) & mask) != 0) {
      return false;
    }
  }
  return true;
}

AllowedNetworks::AllowedNetworks() {
  std::string error;
  Parse(kDefaultNetworks, this, &error);  // a constant this file's tests parse
}

bool AllowedNetworks::Parse(const std::string& text, AllowedNetworks* networks,
                            std::string* error) {
  const std::string trimmed = Trimmed(text);
  if (trimmed == "any") {
    networks->any_ = true;
    networks->blocks_.clear();
    networks->text_ = trimmed;
    return true;
  }
  std::vector<Block> blocks;
  std::string joined;
  for (const std::string& part : SplitAt(trimmed, ',')) {
    const std::string block = Trimmed(part);
    const size_t slash = block.find('/');
    PeerAddress first;
    if (!ParsePeerAddress(block.substr(0, slash), &first)) {
      *error = Refusal(block, "is not an IPv4 or IPv6 network (such as 192.168.1.0/24)");
      return false;
    }
    const int offset =
        first.IsIpv4() && block.find(':') == std::string::npos ? kIpv4MappedPrefixBits : 0;
    int prefix = kAddressBits - offset;
    if (slash != std::string::npos &&
        !ParseDecimal(block.substr(slash + 1), 3, kAddressBits - offset, &prefix)) {
      *error =
          Refusal(block, "has a prefix length outside 0.." + std::to_string(kAddressBits - offset));
      return false;
    }
    Block parsed{first, prefix + offset};
    // Host bits are dropped: 10.1.2.3/8 is 10.0.0.0/8.
    for (int bit = parsed.prefixBits; bit < kAddressBits; ++bit) {
      parsed.first.bytes[bit / 8] &= static_cast<std::uint8_t>(~(0x80 >> (bit % 8)));
    }
    blocks.push_back(parsed);
    AppendListed(&joined, block);
  }
  networks->any_ = false;
  networks->blocks_ = blocks;
  networks->text_ = joined;
  return true;
}

bool AllowedNetworks::Allows(const PeerAddress& address) const {
  if (any_) {
    return true;
  }
  for (const Block& block : blocks_) {
    if (block.Contains(address)) {
      return true;
    }
  }
  return false;
}

std::string AllowedNetworks::Text() const { return text_; }

bool ParseListenAddresses(const std::string& text, std::vector<PeerAddress>* addresses,
                          std::string* error) {
  std::vector<PeerAddress> parsed;
  for (const std::string& part : SplitAt(text, ',')) {
    const std::string each = Trimmed(part);
    PeerAddress address;
    if (!ParsePeerAddress(each, &address)) {
      *error = Refusal(each, "is not a numeric IPv4 or IPv6 address");
      return false;
    }
    for (const PeerAddress& earlier : parsed) {
      if (earlier == address) {
        *error = Refusal(each, "is given twice");
        return false;
      }
    }
    parsed.push_back(address);
  }
  if (parsed.size() > kMostListenAddresses) {
    *error = "at most " + std::to_string(kMostListenAddresses) + " addresses";
    return false;
  }
  *addresses = parsed;
  return true;
}

std::string ListenAddressesText(const std::vector<PeerAddress>& addresses) {
  std::string text;
  for (const PeerAddress& address : addresses) {
    AppendListed(&text, PeerAddressText(address));
  }
  return text;
}

void SetServerPeers(const ServerPeers& peers) {
  std::lock_guard<std::mutex> lock(PeersMutex());
  PeersSetting() = peers;
}

ServerPeers CurrentServerPeers() {
  std::lock_guard<std::mutex> lock(PeersMutex());
  return PeersSetting();
}
