#include "settings_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace twplat::settings {
namespace {

constexpr std::uint32_t kText = 1;    // REG_SZ
constexpr std::uint32_t kNumber = 4;  // REG_DWORD

// A name's leading '[' or '#' is escaped too: unescaped, its line would read
// as a section or a comment.
std::string Escaped(const std::string& text, bool name) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || (name && c == '=') || (name && out.empty() && (c == '[' || c == '#'))) {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

// Reads an escaped text up to an unescaped stop character (or the end);
// false for an escape that is not one of ours.
bool Unescape(const std::string& line, size_t* at, char stop, std::string* out) {
  for (; *at < line.size() && line[*at] != stop; ++*at) {
    if (line[*at] != '\\') {
      *out += line[*at];
      continue;
    }
    if (++*at >= line.size()) {
      return false;
    }
    const char next = line[*at];
    if (next == 'n' || next == 'r') {
      *out += next == 'n' ? '\n' : '\r';
    } else if (next == '\\' || next == '=' || next == '[' || next == '#') {
      *out += next;
    } else {
      return false;
    }
  }
  return true;
}

bool ParseNumber(const std::string& digits, std::uint32_t* number) {
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      })) {
    return false;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
  if (errno != 0 || value > 0xFFFFFFFFull) {
    return false;
  }
  *number = static_cast<std::uint32_t>(value);
  return true;
}

// "name=sz:text" or "name=dword:digits".
bool ParseValue(const std::string& line, std::string* name, Value* value) {
  size_t at = 0;
  if (!Unescape(line, &at, '=', name) || name->empty() || at >= line.size()) {
    return false;
  }
  const std::string rest = line.substr(at + 1);
  if (rest.rfind("sz:", 0) == 0) {
    size_t from = 3;
    value->type = kText;
    return Unescape(rest, &from, '\0', &value->text);
  }
  if (rest.rfind("dword:", 0) == 0) {
    value->type = kNumber;
    return ParseNumber(rest.substr(6), &value->number);
  }
  return false;
}

}  // namespace

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

Keys Parse(const std::string& text) {
  Keys keys;
  Key* current = nullptr;  // values before the first section belong nowhere
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      current = &keys[line.substr(1, line.size() - 2)];
      continue;
    }
    std::string name;
    Value value;
    if (current != nullptr && !line.empty() && line.front() != '#' &&
        ParseValue(line, &name, &value)) {
      (*current)[name] = value;
    }
  }
  return keys;
}

std::string Serialise(const Keys& keys) {
  std::string text = "# Settings kept by the program; edit while it is not running.\n";
  for (const auto& [path, values] : keys) {
    text += "[" + path + "]\n";
    for (const auto& [name, value] : values) {
      text += Escaped(name, true) + "=";
      text += value.type == kText ? "sz:" + Escaped(value.text, false)
                                  : "dword:" + std::to_string(value.number);
      text += "\n";
    }
  }
  return text;
}

}  // namespace twplat::settings
