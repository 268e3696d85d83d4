// The main window driven as a user would: its look at start and per role,
// the volume slider, the keyboard, the About box and the ways to close.
#include <chrono>
#include <functional>
#include <thread>

#include "app/main_window.h"
#include "core/app_state.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/program_fixture.h"

namespace twtest {
namespace {

using MainWindowTest = ProgramTest;

bool VolumeBecomes(LONG volume) {
  return WaitUntil([&] { return appState.volume.load() == volume; });
}

// The built-in devices: the default one (its text starts with "Default") and
// the named one.
void ExpectBuiltinList(const twplat::WindowState& list, const std::string& named) {
  ASSERT_EQ(list.items.size(), 2u);
  EXPECT_EQ(list.items[0].rfind("Default", 0), 0u) << list.items[0];
  EXPECT_EQ(list.items[1], named);
  EXPECT_EQ(list.selection, 0);
}

TEST_F(MainWindowTest, OpensAsAnIdleClientOnTheCaptureDevices) {
  EXPECT_EQ(StateOf(IDC_CLIENT).check, BST_CHECKED);
  EXPECT_EQ(StateOf(IDC_SERVER).check, BST_UNCHECKED);
  EXPECT_EQ(Status(), "Client ready");
  ExpectBuiltinList(StateOf(IDC_DEVICE_LIST), "Test tone");
  EXPECT_EQ(StateOf(IDC_TARGET_HOST).text, kDefaultHost);
  EXPECT_TRUE(Enabled(IDC_TARGET_HOST));
  EXPECT_EQ(StateOf(IDC_TARGET_PORT).text, "5567");
  EXPECT_TRUE(ShowsIdleLook());

  const twplat::WindowState slider = StateOf(IDC_VOLUME);
  EXPECT_FALSE(slider.enabled);
  EXPECT_EQ(slider.rangeMin, -50);
  EXPECT_EQ(slider.rangeMax, 0);
  EXPECT_EQ(slider.position, 0);
  EXPECT_EQ(appState.volume.load(), 0);

  const twplat::WindowState dialog = host_.State(window_).value();
  EXPECT_EQ(dialog.focus, Item(IDC_START));
  EXPECT_NE(dialog.icon, nullptr);
  EXPECT_EQ(dialog.smallIcon, dialog.icon);
  EXPECT_EQ(appState.mainWindow.load(), window_);
}

TEST_F(MainWindowTest, RoleButtonsSwitchTheFieldsTheStatusAndTheDeviceList) {
  ChooseServer();
  EXPECT_FALSE(Enabled(IDC_TARGET_HOST));
  EXPECT_TRUE(Enabled(IDC_VOLUME));
  ExpectBuiltinList(StateOf(IDC_DEVICE_LIST), "Silent output");
  EXPECT_TRUE(ShowsIdleLook());

  ChooseClient();
  EXPECT_TRUE(Enabled(IDC_TARGET_HOST));
  EXPECT_FALSE(Enabled(IDC_VOLUME));
  ExpectBuiltinList(StateOf(IDC_DEVICE_LIST), "Test tone");
}

TEST_F(MainWindowTest, ClickingTheCheckedRoleAgainRebuildsTheListAndItsChoice) {
  // Typing into the list's field drops the choice; the rebuild chooses again.
  ASSERT_TRUE(TestHost::Type(window_, IDC_DEVICE_LIST, "mic"));
  ASSERT_TRUE(host_.WaitForState(
      Item(IDC_DEVICE_LIST), [](const twplat::WindowState& s) { return s.selection == -1; },
      kWaitMs));
  ASSERT_TRUE(Click(IDC_CLIENT));
  EXPECT_TRUE(host_.WaitForState(
      Item(IDC_DEVICE_LIST),
      [](const twplat::WindowState& s) { return s.selection == 0 && s.items.size() == 2; },
      kWaitMs));
  EXPECT_EQ(StateOf(IDC_CLIENT).check, BST_CHECKED);
}

TEST_F(MainWindowTest, SliderGivesTheVolumeInHundredthsOfADecibelAndKeepsItAcrossRoles) {
  ChooseServer();
  ASSERT_TRUE(TestHost::Slide(window_, IDC_VOLUME, -50));
  EXPECT_TRUE(VolumeBecomes(-5000));
  ASSERT_TRUE(TestHost::Slide(window_, IDC_VOLUME, 0));
  EXPECT_TRUE(VolumeBecomes(0));
  ASSERT_TRUE(TestHost::Slide(window_, IDC_VOLUME, -80));  // held at the left end
  EXPECT_TRUE(VolumeBecomes(-5000));
  ASSERT_TRUE(TestHost::Slide(window_, IDC_VOLUME, -13));
  EXPECT_TRUE(VolumeBecomes(-1300));

  ChooseClient();
  EXPECT_EQ(appState.volume.load(), -1300);
  EXPECT_EQ(StateOf(IDC_VOLUME).position, -13);
  EXPECT_FALSE(TestHost::Slide(window_, IDC_VOLUME, -20));  // disabled for the Client
}

TEST_F(MainWindowTest, EscapeNeverClosesTheWindowAndEnterPressesStartWhileEnabled) {
  ChooseServer();
  ASSERT_TRUE(Replace(IDC_TARGET_PORT, std::to_string(peer::ClosedPort()).c_str()));
  ASSERT_TRUE(TestHost::Press(window_, VK_ESCAPE));
  ASSERT_TRUE(TestHost::Press(window_, VK_RETURN));
  ASSERT_TRUE(WaitStatus("Wait for incoming..."));
  EXPECT_TRUE(ShowsRunningLook());
  const HANDLE worker = appState.workerThread;

  // With Start disabled neither Enter nor a Start command starts another run.
  ASSERT_TRUE(TestHost::Press(window_, VK_RETURN));
  ASSERT_TRUE(TestHost::Press(window_, VK_ESCAPE));
  PostMessageA(window_, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), 0);
  ASSERT_TRUE(Click(IDC_STOP));
  ASSERT_TRUE(WaitStatus("Stopped"));
  EXPECT_TRUE(WaitForIdle());
  EXPECT_EQ(appState.workerThread, worker);
  EXPECT_EQ(host_.BoxCount(), 0u);
  EXPECT_TRUE(host_.State(window_).has_value());
}

TEST_F(MainWindowTest, AboutBoxClosesWithOkEnterEscapeAndItsCloseBox) {
  const std::vector<std::function<bool(HWND)>> ways = {
      [](HWND about) { return TestHost::Click(about, IDOK); },
      [](HWND about) { return TestHost::Press(about, VK_RETURN); },
      [](HWND about) { return TestHost::Press(about, VK_ESCAPE); },
      [](HWND about) { return TestHost::Close(about); },
  };
  for (size_t way = 0; way < ways.size(); ++way) {
    SCOPED_TRACE(way);
    ASSERT_TRUE(Click(IDC_ABOUT));
    HWND about = host_.WaitForDialog("About", kWaitMs);
    ASSERT_NE(about, nullptr);
    EXPECT_FALSE(host_.State(window_)->enabled);
    EXPECT_FALSE(Click(IDC_START));  // the main window takes no input meanwhile
    ASSERT_TRUE(ways[way](about));
    EXPECT_TRUE(WaitGone(about));
    EXPECT_TRUE(WaitWindowEnabled());
  }
  EXPECT_EQ(Status(), "Client ready");
}

TEST_F(MainWindowTest, ExitEndsTheProgram) {
  ASSERT_TRUE(Click(IDC_EXIT));
  EXPECT_TRUE(WaitForProgramEnd());
  EXPECT_EQ(host_.BoxCount(), 0u);
}

}  // namespace
}  // namespace twtest
