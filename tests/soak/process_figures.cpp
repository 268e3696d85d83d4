#include "process_figures.h"

#include <dirent.h>

#include <cstdio>
#include <cstring>

namespace twtest {
namespace {

int CountDescriptors() {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) {
    return -1;
  }
  int count = 0;
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] != '.') {
      ++count;
    }
  }
  closedir(folder);
  return count - 1;  // the listing's own descriptor
}

// One "Name: value" line of /proc/self/status, or -1.
long StatusValue(const char* name) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) {
    return -1;
  }
  char line[256];
  long value = -1;
  const size_t length = std::strlen(name);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
      std::sscanf(line + length + 1, "%ld", &value);
      break;
    }
  }
  std::fclose(status);
  return value;
}

}  // namespace

ProcessFigures ReadProcessFigures() {
  ProcessFigures figures;
  figures.descriptors = CountDescriptors();
  figures.threads = static_cast<int>(StatusValue("Threads"));
  figures.residentKb = StatusValue("VmRSS");
  return figures;
}

}  // namespace twtest
