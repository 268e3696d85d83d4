// The desktop window's instance name, a value beside the window's settings
// (HKEY_CURRENT_USER\Software\Tonewire, "ServerName").
#include <windows.h>

#include <cstring>

#include "discovery/host_discovery.h"

namespace twdisc {
namespace {

constexpr char kSettingsKey[] = "Software\\Tonewire";
constexpr char kNameValue[] = "ServerName";
// An instance name is one DNS label: 63 bytes at most.
constexpr DWORD kNameBytes = 64;

}  // namespace

std::string KeptInstanceName() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return "";
  }
  char buffer[kNameBytes + 1] = {};
  DWORD bytes = kNameBytes;
  DWORD type = 0;
  const LONG read =
      RegQueryValueExA(key, kNameValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS || type != REG_SZ) {
    return "";
  }
  return std::string(buffer, ::strnlen(buffer, bytes));
}

bool KeepInstanceName(const std::string& name) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG written =
      RegSetValueExA(key, kNameValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                     static_cast<DWORD>(name.size() + 1));
  RegCloseKey(key);
  return written == ERROR_SUCCESS;
}

}  // namespace twdisc
