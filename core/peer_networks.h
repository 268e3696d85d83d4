// Which addresses a Server listens on and which peers it serves: numeric
// IPv4 and IPv6 addresses, CIDR blocks, and the process-wide choice that the
// host (tonewire-cli's options, the kept settings) makes before a run.
//
// Thread contract: the parsers and AllowedNetworks are plain values.
// SetServerPeers is called on the user-interface thread before Start;
// CurrentServerPeers may be called from any thread (a copy under a lock).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// An address as 16 bytes in network order; an IPv4 address is kept in its
// IPv4-mapped IPv6 form (::ffff:a.b.c.d), so that a dual-stack listener's
// peers and an IPv4 listener's peers compare alike.
struct PeerAddress {
  std::array<std::uint8_t, 16> bytes{};

  bool IsIpv4() const;

  bool operator==(const PeerAddress& other) const { return bytes == other.bytes; }
  bool operator<(const PeerAddress& other) const { return bytes < other.bytes; }
};

// A numeric IPv4 ("192.168.1.5") or IPv6 ("fe80::1", "::ffff:10.0.0.1")
// address; false for anything else (names, scope suffixes, leading zeros in
// an IPv4 part, which some parsers read as octal).
bool ParsePeerAddress(const std::string& text, PeerAddress* address);

// "a.b.c.d" for IPv4 and IPv4-mapped addresses, otherwise the IPv6 text
// with the longest run of zero groups written "::".
std::string PeerAddressText(const PeerAddress& address);

// A set of CIDR blocks, or every address.
class AllowedNetworks {
 public:
  // The networks a speaker box serves unless told otherwise: loopback, the
  // private IPv4 ranges, shared address space (100.64.0.0/10), link-local
  // and IPv6 unique-local addresses. Never the internet at large.
  AllowedNetworks();

  // "any", or comma-separated blocks such as "192.168.1.0/24,fd00::/8"; an
  // address without "/" is a block of one. False with error set to a
  // one-line reason, leaving networks as it was.
  static bool Parse(const std::string& text, AllowedNetworks* networks, std::string* error);

  bool Allows(const PeerAddress& address) const;
  bool AllowsEvery() const { return any_; }
  // The text Parse takes back: "any", or the blocks as given.
  std::string Text() const;

 private:
  struct Block {
    PeerAddress first;
    int prefixBits;  // of the 128-bit form: an IPv4 /24 is 120
    bool Contains(const PeerAddress& address) const;
  };

  bool any_ = false;
  std::vector<Block> blocks_;
  std::string text_;
};

// The most addresses a Server listens on at once.
inline constexpr std::size_t kMostListenAddresses = 8;

// Comma-separated numeric addresses, at most kMostListenAddresses, none
// twice. False with error set to a one-line reason.
bool ParseListenAddresses(const std::string& text, std::vector<PeerAddress>* addresses,
                          std::string* error);
std::string ListenAddressesText(const std::vector<PeerAddress>& addresses);

struct ServerPeers {
  std::vector<PeerAddress> listen;  // empty: every address, IPv6 and IPv4
  AllowedNetworks allowed;
};

void SetServerPeers(const ServerPeers& peers);
ServerPeers CurrentServerPeers();
