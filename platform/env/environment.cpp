#include "platform/env/environment.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace twplat::env {
namespace {

bool IsOneOf(const char* text, const char* const (&words)[2]) {
  for (const char* word : words) {
    if (word != nullptr && std::strcmp(text, word) == 0) {
      return true;
    }
  }
  return false;
}

std::string WordList(const Switch& variable) {
  std::string list;
  for (const auto* words : {&variable.onWords, &variable.offWords}) {
    for (const char* word : *words) {
      if (word != nullptr) {
        list += list.empty() ? "" : ", ";
        list += word;
      }
    }
  }
  return list;
}

}  // namespace

bool ParseWholeNumber(const char* text, const WholeNumber& variable, long* value) {
  if (text == nullptr || *text == '\0') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || number < variable.minimum || number > variable.maximum) {
    return false;
  }
  *value = number;
  return true;
}

long Read(const WholeNumber& variable) {
  const char* text = std::getenv(variable.name);
  long value = variable.fallback;
  if (text != nullptr && !ParseWholeNumber(text, variable, &value)) {
    std::fprintf(stderr, "%s=%s ignored: give a whole number from %ld to %ld; %ld is used\n",
                 variable.name, text, variable.minimum, variable.maximum, variable.fallback);
    value = variable.fallback;
  }
  return value;
}

bool Read(const Switch& variable) {
  const char* text = std::getenv(variable.name);
  if (text == nullptr) {
    return variable.fallback;
  }
  if (IsOneOf(text, variable.onWords)) {
    return true;
  }
  if (IsOneOf(text, variable.offWords)) {
    return false;
  }
  std::fprintf(stderr, "%s=%s ignored: give %s, or leave it unset\n", variable.name, text,
               WordList(variable).c_str());
  return variable.fallback;
}

}  // namespace twplat::env
