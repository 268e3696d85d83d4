// The text form of one program's registry keys: a section per key, a line
// per value.
//
//   [Software\Tonewire]
//   Host=sz:livingroom.local
//   Port=dword:5567
//
// Texts keep backslash, line breaks and '=' (in names) as \\, \n, \r and \=;
// a name's leading '[' or '#' is written \[ or \#.
// A line that does not read as a section or a value is skipped, so a damaged
// file loses only what is damaged. Names compare without regard to case, as
// Windows' key and value names do.
//
// Thread contract: none kept; the registry calls serialise their use.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace twplat::settings {

struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct Value {
  std::uint32_t type = 0;    // REG_SZ (1) or REG_DWORD (4)
  std::string text;          // REG_SZ
  std::uint32_t number = 0;  // REG_DWORD
};

using Key = std::map<std::string, Value, NoCaseLess>;  // by value name
using Keys = std::map<std::string, Key, NoCaseLess>;   // by key path

Keys Parse(const std::string& text);
std::string Serialise(const Keys& keys);

}  // namespace twplat::settings
