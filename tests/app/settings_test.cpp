// The window's kept settings: what it shows at closing is what it opens
// with, and whatever the file holds, the window opens. Each test has an
// empty XDG_CONFIG_HOME of its own (ProgramTest).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/main_window.h"
#include "core/app_state.h"
#include "core/peer_networks.h"
#include "tests/support/program_fixture.h"

namespace twtest {
namespace {

std::filesystem::path SettingsFile() {
  return std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "tonewire" / "settings.conf";
}

void WriteSettingsFile(const std::string& content) {
  std::filesystem::create_directories(SettingsFile().parent_path());
  std::ofstream(SettingsFile(), std::ios::binary) << content;
}

class KeptSettings : public ProgramTest {
 protected:
  // Closes the window and opens it again, as a user would the next day;
  // true once the queued slider moves have been handled.
  void Reopen() {
    CloseProgram();
    StartProgram();
    SyncWithWindow();
  }

  // Opens the window on a file as written: the window's own closing would
  // write over it first.
  void ReopenWith(const std::string& content) {
    CloseProgram();
    WriteSettingsFile(content);
    StartProgram();
    SyncWithWindow();
  }

  void ExpectDefaults() {
    EXPECT_EQ(StateOf(IDC_CLIENT).check, BST_CHECKED);
    EXPECT_EQ(Status(), "Client ready");
    EXPECT_EQ(StateOf(IDC_TARGET_HOST).text, kDefaultHost);
    EXPECT_EQ(StateOf(IDC_TARGET_PORT).text, "5567");
    EXPECT_EQ(StateOf(IDC_DEVICE_LIST).selection, 0);  // the list's own choice: the default
    EXPECT_EQ(StateOf(IDC_VOLUME).position, 0);
    EXPECT_EQ(appState.volume.load(), 0);
  }
};

TEST_F(KeptSettings, TheWindowOpensAsItWasLastClosed) {
  ExpectDefaults();  // nothing kept yet
  ASSERT_TRUE(Replace(IDC_TARGET_HOST, "livingroom.local"));
  ChooseServer();
  ASSERT_TRUE(Replace(IDC_TARGET_PORT, "6123"));
  ASSERT_TRUE(TestHost::Select(window_, IDC_DEVICE_LIST, 1));
  ASSERT_TRUE(TestHost::Slide(window_, IDC_VOLUME, -20));
  // Input is handled in turn: wait until the window shows all of it.
  ASSERT_TRUE(host_.WaitForText(Item(IDC_DEVICE_LIST), "Silent output", kWaitMs));
  ASSERT_TRUE(host_.WaitForState(
      Item(IDC_VOLUME), [](const twplat::WindowState& state) { return state.position == -20; },
      kWaitMs));
  ASSERT_TRUE(host_.WaitForText(Item(IDC_TARGET_PORT), "6123", kWaitMs));

  Reopen();
  EXPECT_EQ(StateOf(IDC_SERVER).check, BST_CHECKED);
  EXPECT_EQ(Status(), "Server ready");
  EXPECT_FALSE(Enabled(IDC_TARGET_HOST));  // the role is applied, not only checked
  EXPECT_EQ(StateOf(IDC_TARGET_HOST).text, "livingroom.local");
  EXPECT_EQ(StateOf(IDC_TARGET_PORT).text, "6123");
  EXPECT_EQ(StateOf(IDC_DEVICE_LIST).text, "Silent output");
  // The slider's range and position are queued behind the window's opening.
  EXPECT_TRUE(host_.WaitForState(
      Item(IDC_VOLUME),
      [](const twplat::WindowState& state) {
        return state.rangeMin == -50 && state.position == -20;
      },
      kWaitMs));
  EXPECT_EQ(appState.volume.load(), -2000);

  // Back to the Client: its own device list, the host kept as typed.
  ChooseClient();
  Reopen();
  EXPECT_EQ(StateOf(IDC_CLIENT).check, BST_CHECKED);
  EXPECT_EQ(StateOf(IDC_TARGET_HOST).text, "livingroom.local");
}

TEST_F(KeptSettings, AGoneDeviceAndValuesOutOfRangeLeaveTheDefaults) {
  ReopenWith(
      "[Software\\Tonewire]\n"
      "Role=dword:7\n"
      "Host=sz:\n"
      "Port=dword:70000\n"
      "Device=sz:USB headset\n"
      "Attenuation=dword:99\n");
  ExpectDefaults();
}

TEST_F(KeptSettings, ADamagedOrUnreadableFileStillOpensTheWindow) {
  ReopenWith(std::string("\x00\xff[Software\\Tonewire\nPort=dword:-3\nHost=zz:x\n=sz:\n", 43));
  ExpectDefaults();
  // Closing replaces the damaged file with what the window showed.
  ASSERT_TRUE(Replace(IDC_TARGET_PORT, "7000"));
  Reopen();
  EXPECT_EQ(StateOf(IDC_TARGET_PORT).text, "7000");

  std::filesystem::remove(SettingsFile());
  std::filesystem::create_directory(SettingsFile());  // neither readable nor writable as a file
  Reopen();
  ExpectDefaults();
}

// Where a Server listens and whom it serves have no controls: the window
// takes them from the file, and a text that does not parse leaves the
// default, never a wider choice.
TEST_F(KeptSettings, TheServersAddressesAndNetworksComeFromTheFile) {
  ReopenWith(
      "[Software\\Tonewire]\n"
      "Role=dword:1\n"
      "Listen=sz:127.0.0.1,::1\n"
      "Allow=sz:192.168.1.0/24\n");
  ServerPeers peers = CurrentServerPeers();
  EXPECT_EQ(ListenAddressesText(peers.listen), "127.0.0.1,::1");
  EXPECT_EQ(peers.allowed.Text(), "192.168.1.0/24");

  ReopenWith(
      "[Software\\Tonewire]\n"
      "Listen=sz:speakers.local\n"
      "Allow=sz:192.168.1.0/24,everyone\n");
  peers = CurrentServerPeers();
  EXPECT_TRUE(peers.listen.empty());
  EXPECT_EQ(peers.allowed.Text(), AllowedNetworks().Text());
  SetServerPeers(ServerPeers{});
}

}  // namespace
}  // namespace twtest
