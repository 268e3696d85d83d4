#include <windows.h>

#include <commctrl.h>

#include "app/settings.h"

#include <atomic>
#include <string>

#include "app/main_window.h"
#include "core/app_state.h"
#include "core/peer_networks.h"
#include "res/resource.h"

namespace {

constexpr char kSettingsKey[] = "Software\\Tonewire";
constexpr DWORD kRoleClient = 0;
constexpr DWORD kRoleServer = 1;
constexpr DWORD kHighestPort = 65535;
constexpr DWORD kMostAttenuationDb = 50;  // the slider's left end
constexpr LONG kVolumeStepsPerDb = 100;
constexpr DWORD kLongestText = 1024;    // the host field's buffer, the longest device name
constexpr DWORD kMostLatencyMs = 1400;  // the Server's playback target; 0 adapts

std::atomic<SettingsUse> settingsUse{SettingsUse::kReadWrite};

// A closed key on every way out.
class SettingsKey {
 public:
  SettingsKey() = default;
  ~SettingsKey() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
    }
  }
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  bool Open() {
    return RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key_) == ERROR_SUCCESS;
  }
  bool Create() {
    return RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_WRITE, nullptr, &key_, nullptr) == ERROR_SUCCESS;
  }

  bool Number(const char* name, DWORD* number) const {
    DWORD type = REG_NONE;
    DWORD bytes = sizeof *number;
    return RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(number), &bytes) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && bytes == sizeof *number;
  }
  bool Text(const char* name, std::string* text) const {
    char buffer[kLongestText] = {};
    DWORD type = REG_NONE;
    DWORD bytes = sizeof buffer;
    if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
      return false;
    }
    buffer[sizeof buffer - 1] = '\0';
    *text = buffer;
    return true;
  }

  void SetNumber(const char* name, DWORD number) const {
    RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  }
  void SetText(const char* name, const std::string& text) const {
    RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
  }

 private:
  HKEY key_ = nullptr;
};

// The entry with exactly this text, or CB_ERR. An empty text stands for the
// default device, whose entry has no GUID and a text that names whatever is
// the default today ("Default: Speakers").
LRESULT FindDevice(HWND list, const std::string& text) {
  const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
  for (LRESULT index = 0; index < count; ++index) {
    if (text.empty()) {
      if (SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(index), 0) == 0) {
        return index;
      }
      continue;
    }
    const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, index, 0);
    if (length < 0 || static_cast<size_t>(length) != text.size()) {
      continue;
    }
    std::string entry(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(entry.data()));
    if (entry.c_str() == text) {
      return index;
    }
  }
  return CB_ERR;
}

void ApplyRoleSetting(HWND window, const SettingsKey& key) {
  DWORD role = kRoleClient;
  if (key.Number("Role", &role) && role == kRoleServer) {
    CheckRadioButton(window, IDC_CLIENT, IDC_SERVER, IDC_SERVER);
    ApplyRole(window);
  }
}

// The slider's range is still queued (InitMainWindow posts it), so the
// position is queued behind it; the volume itself is known at once.
void ApplyVolumeSetting(HWND window, const SettingsKey& key) {
  DWORD attenuation = 0;
  if (key.Number("Attenuation", &attenuation) && attenuation <= kMostAttenuationDb) {
    const LONG position = -static_cast<LONG>(attenuation);
    PostMessageA(GetDlgItem(window, IDC_VOLUME), TBM_SETPOS, TRUE, position);
    appState.volume.store(position * kVolumeStepsPerDb);
  }
}

std::string FieldText(HWND window, int id) {
  char text[kLongestText] = {};
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

// The chosen entry's text, empty for the default device; the field's text
// when no entry is chosen.
std::string ChosenDeviceText(HWND window) {
  HWND list = GetDlgItem(window, IDC_DEVICE_LIST);
  const LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (index != CB_ERR && SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(index), 0) == 0) {
    return std::string();
  }
  return FieldText(window, IDC_DEVICE_LIST);
}

// Where a Server listens and whom it serves: texts as tonewire-cli's
// --listen and --allow take them. One that does not parse leaves the
// default (every address; the local networks).
void ApplyPeerSettings(const SettingsKey& key) {
  ServerPeers peers;
  std::string text;
  std::string error;
  if (key.Text("Listen", &text) && !text.empty()) {
    ParseListenAddresses(text, &peers.listen, &error);
  }
  if (key.Text("Allow", &text) && !text.empty()) {
    AllowedNetworks::Parse(text, &peers.allowed, &error);
  }
  SetServerPeers(peers);
}

void KeepPeerSettings(const SettingsKey& key) {
  const ServerPeers peers = CurrentServerPeers();
  key.SetText("Listen", ListenAddressesText(peers.listen));
  key.SetText("Allow", peers.allowed.Text());
}

}  // namespace

void SetSettingsUse(SettingsUse use) { settingsUse.store(use); }

void ApplyKeptSettings(HWND window) {
  SettingsKey key;
  if (settingsUse.load() != SettingsUse::kReadWrite || !key.Open()) {
    return;
  }
  ApplyRoleSetting(window, key);
  std::string text;
  if (key.Text("Host", &text) && !text.empty()) {
    SetDlgItemTextA(window, IDC_TARGET_HOST, text.c_str());
  }
  DWORD port = 0;
  if (key.Number("Port", &port) && port >= 1 && port <= kHighestPort) {
    SetDlgItemInt(window, IDC_TARGET_PORT, port, TRUE);
  }
  ApplyVolumeSetting(window, key);
  ApplyPeerSettings(key);
  DWORD latencyMs = 0;
  if (key.Number("LatencyMs", &latencyMs) && latencyMs <= kMostLatencyMs) {
    appState.latencyTargetMs.store(static_cast<LONG>(latencyMs));
  }
  HWND list = GetDlgItem(window, IDC_DEVICE_LIST);
  const LRESULT device = key.Text("Device", &text) ? FindDevice(list, text) : CB_ERR;
  if (device != CB_ERR) {
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(device), 0);
  }
}

void KeepSettings(HWND window) {
  SettingsKey key;
  if (settingsUse.load() == SettingsUse::kNone || !key.Create()) {
    return;
  }
  const bool server = IsDlgButtonChecked(window, IDC_SERVER) == BST_CHECKED;
  // A window driven by another program keeps only its role's fields: a
  // Server run leaves the Client's host alone, a Client run the volume.
  const bool bothRoles = settingsUse.load() == SettingsUse::kReadWrite;
  key.SetNumber("Role", server ? kRoleServer : kRoleClient);
  if (!server || bothRoles) {
    key.SetText("Host", FieldText(window, IDC_TARGET_HOST));
  }
  BOOL portRead = FALSE;
  const UINT port = GetDlgItemInt(window, IDC_TARGET_PORT, &portRead, FALSE);
  if (portRead && port >= 1 && port <= kHighestPort) {
    key.SetNumber("Port", port);
  }
  key.SetText("Device", ChosenDeviceText(window));
  const LRESULT position = SendMessageA(GetDlgItem(window, IDC_VOLUME), TBM_GETPOS, 0, 0);
  if ((server || bothRoles) && position <= 0 &&
      position >= -static_cast<LRESULT>(kMostAttenuationDb)) {
    key.SetNumber("Attenuation", static_cast<DWORD>(-position));
  }
  if (server || bothRoles) {
    KeepPeerSettings(key);
    key.SetNumber("LatencyMs", static_cast<DWORD>(appState.latencyTargetMs.load()));
  }
}
