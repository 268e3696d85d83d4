#include "tests/support/config_home.h"

#include <stdlib.h>

#include <filesystem>

namespace twtest {
namespace {

// Removes the folder it holds at exit, and when the next one replaces it.
struct MadeFolder {
  std::string path;
  ~MadeFolder() { Remove(); }
  void Remove() {
    if (!path.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
      path.clear();
    }
  }
};

MadeFolder current;

}  // namespace

std::string UseFreshConfigHome() {
  current.Remove();
  std::string pattern =
      (std::filesystem::temp_directory_path() / "tonewire-config-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    return std::string();
  }
  current.path = pattern;
  setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
  return pattern;
}

}  // namespace twtest
