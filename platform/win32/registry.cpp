// HKEY_CURRENT_USER\Software\<Program>[\...] kept in a text file per
// program (settings_file.h), in the folder the XDG base directories name
// for a user's configuration: $XDG_CONFIG_HOME/<program>/settings.conf, or
// ~/.config/<program>/ when XDG_CONFIG_HOME is unset or not absolute.
//
// Every call reads the file afresh and every change writes it whole (a new
// file renamed over the old), so two programs, or a program and a text
// editor, never see half a file. One lock orders the calls of a process.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "settings_file.h"

namespace twplat {
namespace {

namespace fs = settings;

// An open key: the program's file and the key's path within it.
struct KeyRecord {
  std::string folder;  // the program's configuration folder
  std::string path;    // "Software\Tonewire[\...]"
  REGSAM access;
};

std::mutex registryMutex;
std::set<KeyRecord*> openKeys;  // under registryMutex

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    return xdg;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  return home != nullptr && home[0] == '/' ? std::string(home) + "/.config" : std::string();
}

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(path);
  while (std::getline(in, part, '\\')) {
    if (!part.empty()) {
      parts.push_back(part);
    }
  }
  return parts;
}

bool SameNoCase(const std::string& a, const std::string& b) {
  return !fs::NoCaseLess()(a, b) && !fs::NoCaseLess()(b, a);
}

// The key record for a sub-key of HKEY_CURRENT_USER or of an open key; an
// error code when the path is not one the layer keeps.
LONG Resolve(HKEY parent, LPCSTR subKey, KeyRecord* key) {
  std::string path;
  if (parent != HKEY_CURRENT_USER) {
    auto found = openKeys.find(reinterpret_cast<KeyRecord*>(parent));
    if (found == openKeys.end()) {
      return ERROR_INVALID_HANDLE;
    }
    path = (*found)->path + "\\";
  }
  path += subKey != nullptr ? subKey : "";
  if (path.find_first_of("\n\r[]/") != std::string::npos) {
    return ERROR_INVALID_PARAMETER;  // neither a file name nor a section can hold these
  }
  const std::vector<std::string> parts = Components(path);
  // Only a program's own branch under Software is kept; "." and ".." are
  // no program's name and would lead out of the configuration folder.
  if (parts.size() < 2 || !SameNoCase(parts[0], "Software") || parts[1] == "." ||
      parts[1] == "..") {
    return ERROR_ACCESS_DENIED;
  }
  const std::string home = ConfigHome();
  if (home.empty()) {
    return ERROR_PATH_NOT_FOUND;
  }
  std::string program = parts[1];
  for (char& c : program) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  key->folder = home + "/" + program;
  key->path = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    key->path += "\\" + parts[i];
  }
  return ERROR_SUCCESS;
}

std::string FileOf(const KeyRecord& key) { return key.folder + "/settings.conf"; }

LONG ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENOSPC:
      return ERROR_DISK_FULL;
    default:
      return ERROR_WRITE_FAULT;
  }
}

// The program's keys; none when the file does not exist yet.
LONG ReadKeys(const KeyRecord& key, fs::Keys* keys) {
  const int fd = open(FileOf(key).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT ? ERROR_SUCCESS : ErrorFromErrno(errno);
  }
  std::string text;
  char chunk[4096];
  ssize_t got = 0;
  while ((got = read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
    text.append(chunk, static_cast<size_t>(got > 0 ? got : 0));
  }
  const int error = got < 0 ? errno : 0;
  close(fd);
  if (error != 0) {
    return ErrorFromErrno(error);  // a directory in the file's place, a read error
  }
  *keys = fs::Parse(text);
  return ERROR_SUCCESS;
}

// Creates the folders on the way: the configuration home private to the
// user (0700, as the XDG base directories ask), the program's folder too.
LONG MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string prefix = folder.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      return ErrorFromErrno(errno);
    }
    if (slash == std::string::npos) {
      return ERROR_SUCCESS;
    }
  }
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return fsync(fd) == 0;
}

LONG WriteKeys(const KeyRecord& key, const fs::Keys& keys) {
  LONG made = MakeFolders(key.folder);
  if (made != ERROR_SUCCESS) {
    return made;
  }
  std::string temporary = FileOf(key) + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    return ErrorFromErrno(errno);
  }
  const bool written = WriteAll(fd, fs::Serialise(keys));
  const int error = written ? 0 : errno;
  close(fd);
  if (!written || rename(temporary.c_str(), FileOf(key).c_str()) != 0) {
    const LONG code = ErrorFromErrno(written ? errno : error);
    unlink(temporary.c_str());
    return code;
  }
  return ERROR_SUCCESS;
}

KeyRecord* OpenRecord(HKEY key) {
  auto found = openKeys.find(reinterpret_cast<KeyRecord*>(key));
  return found == openKeys.end() ? nullptr : *found;
}

}  // namespace
}  // namespace twplat

using twplat::KeyRecord;

namespace twplat {
namespace {

// Opens a key, creating it first when asked; existed tells which it was.
LONG OpenKey(HKEY parent, LPCSTR subKey, REGSAM desired, bool create, PHKEY result, bool* existed) {
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::lock_guard<std::mutex> lock(registryMutex);
  KeyRecord record{};
  LONG status = Resolve(parent, subKey, &record);
  settings::Keys keys;
  if (status == ERROR_SUCCESS) {
    status = ReadKeys(record, &keys);
  }
  if (status != ERROR_SUCCESS) {
    return status;
  }
  *existed = keys.count(record.path) != 0;
  if (!*existed && !create) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (!*existed) {
    keys[record.path];
    status = WriteKeys(record, keys);
    if (status != ERROR_SUCCESS) {
      return status;
    }
  }
  record.access = desired;
  KeyRecord* opened = new KeyRecord(record);
  openKeys.insert(opened);
  *result = reinterpret_cast<HKEY>(opened);
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace twplat

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM desired,
                               LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  bool existed = false;
  const LONG status = twplat::OpenKey(key, subKey, desired, true, result, &existed);
  if (status == ERROR_SUCCESS && disposition != nullptr) {
    *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  }
  return status;
}

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM desired, PHKEY result) {
  bool existed = false;
  return twplat::OpenKey(key, subKey, desired, false, result, &existed);
}

// Only text and 32-bit numbers: the values a program keeps for its window.
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                              DWORD dataBytes) {
  std::lock_guard<std::mutex> lock(twplat::registryMutex);
  KeyRecord* record = twplat::OpenRecord(key);
  if (record == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  if ((record->access & KEY_SET_VALUE) == 0) {
    return ERROR_ACCESS_DENIED;
  }
  twplat::settings::Value value;
  value.type = type;
  if (type == REG_SZ && (data != nullptr || dataBytes == 0)) {
    const char* text = reinterpret_cast<const char*>(data);
    value.text.assign(text != nullptr ? text : "", text != nullptr ? strnlen(text, dataBytes) : 0);
  } else if (type == REG_DWORD && data != nullptr && dataBytes == sizeof(DWORD)) {
    std::memcpy(&value.number, data, sizeof value.number);
  } else {
    return ERROR_INVALID_PARAMETER;
  }
  twplat::settings::Keys keys;
  LONG status = twplat::ReadKeys(*record, &keys);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  keys[record->path][valueName != nullptr ? valueName : ""] = value;
  return twplat::WriteKeys(*record, keys);
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                                LPDWORD dataBytes) {
  if (data != nullptr && dataBytes == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  std::lock_guard<std::mutex> lock(twplat::registryMutex);
  KeyRecord* record = twplat::OpenRecord(key);
  if (record == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  if ((record->access & KEY_QUERY_VALUE) == 0) {
    return ERROR_ACCESS_DENIED;
  }
  twplat::settings::Keys keys;
  LONG status = twplat::ReadKeys(*record, &keys);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  const auto& values = keys[record->path];
  auto found = values.find(valueName != nullptr ? valueName : "");
  if (found == values.end()) {
    return ERROR_FILE_NOT_FOUND;
  }
  const twplat::settings::Value& value = found->second;
  const bool text = value.type == REG_SZ;
  const DWORD size = text ? static_cast<DWORD>(value.text.size() + 1) : sizeof(DWORD);
  if (type != nullptr) {
    *type = value.type;
  }
  if (data == nullptr) {
    if (dataBytes != nullptr) {
      *dataBytes = size;
    }
    return ERROR_SUCCESS;
  }
  const bool fits = *dataBytes >= size;
  *dataBytes = size;
  if (!fits) {
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, text ? static_cast<const void*>(value.text.c_str()) : &value.number, size);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  std::lock_guard<std::mutex> lock(twplat::registryMutex);
  KeyRecord* record = twplat::OpenRecord(key);
  if (record == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  twplat::openKeys.erase(record);
  delete record;
  return ERROR_SUCCESS;
}
