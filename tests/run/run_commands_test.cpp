// Start and Stop as the window's user meets them: field errors, the running
// and idle looks, runs that end by themselves, the bounded Stop wait with its
// "Timed out", closing during a run, and "Client Info".
#include <chrono>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "core/stream_header.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/mouse_move.h"
#include "tests/support/program_fixture.h"
#include "tests/support/signal_analysis.h"

namespace twtest {
namespace {

using Clock = std::chrono::steady_clock;
using RunCommandsTest = ProgramTest;

constexpr LONG kStopWaitMs = 3000;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void ExpectBox(const BoxInfo& box, HWND owner, const std::string& caption, const std::string& text,
               UINT style) {
  EXPECT_EQ(box.owner, owner);
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.style, style);
}

class FieldErrorTest : public RunCommandsTest {
 protected:
  // Should a field check ever let a Client run through, it connects nowhere
  // but here.
  void SetUp() override {
    RunCommandsTest::SetUp();
    ASSERT_TRUE(Replace(IDC_TARGET_HOST, "127.0.0.1"));
  }

  // Presses Start with the port field holding text and expects the box and
  // no run.
  void ExpectRefusedPort(const char* text) {
    SCOPED_TRACE(text);
    const size_t before = host_.BoxCount();
    const HANDLE worker = appState.workerThread;
    SetDlgItemTextA(window_, IDC_TARGET_PORT, text);  // as pasted: no digit filter
    ASSERT_TRUE(Click(IDC_START));
    ASSERT_TRUE(host_.WaitForBoxCount(before + 1, kWaitMs));
    ExpectBox(host_.Boxes()[before], window_, "Error", "Enter correct target port", MB_ICONWARNING);
    ASSERT_TRUE(WaitWindowEnabled());
    EXPECT_TRUE(ShowsIdleLook());
    EXPECT_EQ(appState.workerThread, worker);
  }
};

TEST_F(FieldErrorTest, PortWithoutANumberIsRefusedInBothRoles) {
  ExpectRefusedPort("");
  ExpectRefusedPort("55x");
  ChooseServer();
  ExpectRefusedPort("");
  ExpectRefusedPort("port");
  EXPECT_EQ(Status(), "Server ready");
}

// The socket calls take the low 16 bits: 70000 would listen on 4464.
TEST_F(FieldErrorTest, PortsOutsideOneTo65535AreRefused) {
  ExpectRefusedPort("0");
  ExpectRefusedPort("65536");
  ChooseServer();
  ExpectRefusedPort("70000");
}

TEST_F(FieldErrorTest, EmptyHostIsRefusedForTheClientOnlyAndTheServerReadsNoHost) {
  ASSERT_TRUE(Replace(IDC_TARGET_HOST, ""));
  ASSERT_TRUE(Click(IDC_START));
  ASSERT_TRUE(host_.WaitForBoxCount(1, kWaitMs));
  ExpectBox(host_.Boxes()[0], window_, "Error", "Enter correct target host", MB_ICONWARNING);
  ASSERT_TRUE(WaitWindowEnabled());
  EXPECT_TRUE(ShowsIdleLook());

  ASSERT_TRUE(Replace(IDC_TARGET_HOST, "10.1.2.3"));
  StartServer(peer::ClosedPort());
  EXPECT_STREQ(appState.targetHost, "");
  EXPECT_EQ(host_.BoxCount(), 1u);
}

TEST_F(RunCommandsTest, StartSwitchesToTheRunningLookAndStopBackToIdle) {
  const int port = peer::ClosedPort();
  StartServer(port);
  EXPECT_TRUE(ShowsRunningLook());
  EXPECT_EQ(appState.bufferMeter.load(), Item(IDC_BUFFER_METER));
  // A run leaves the fields and the slider alone.
  EXPECT_FALSE(Enabled(IDC_TARGET_HOST));
  EXPECT_TRUE(Enabled(IDC_VOLUME));
  EXPECT_TRUE(Enabled(IDC_DEVICE_LIST));

  ASSERT_TRUE(Click(IDC_STOP));
  ASSERT_TRUE(WaitStatus("Stopped"));
  EXPECT_TRUE(WaitForIdle());

  // Start right away again: the new worker may overlap the old one's release.
  ASSERT_TRUE(Click(IDC_START));
  ASSERT_TRUE(WaitStatus("Wait for incoming..."));
  EXPECT_TRUE(ShowsRunningLook());
  ASSERT_TRUE(Click(IDC_STOP));
  ASSERT_TRUE(WaitStatus("Stopped"));
  EXPECT_EQ(host_.BoxCount(), 0u);
}

TEST_F(RunCommandsTest, StopAndRunFinishedWhileIdleChangeNothing) {
  PostMessageA(window_, WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_CLICKED), 0);
  PostMessageA(window_, WM_RUN_FINISHED, 0, 0);
  ASSERT_TRUE(Click(IDC_SERVER));  // handled after the two messages above
  ASSERT_TRUE(WaitStatus("Server ready"));
  const std::vector<std::string> texts = host_.Texts(Item(IDC_STATUS));
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Stopped"), 0);
  EXPECT_TRUE(ShowsIdleLook());
}

TEST_F(RunCommandsTest, StartWithNoDeviceChosenRunsOnTheDefaultDevice) {
  ChooseServer();
  ASSERT_TRUE(TestHost::Type(window_, IDC_DEVICE_LIST, "speakers"));
  ASSERT_TRUE(host_.WaitForState(
      Item(IDC_DEVICE_LIST), [](const twplat::WindowState& s) { return s.selection == -1; },
      kWaitMs));
  ASSERT_TRUE(Replace(IDC_TARGET_PORT, std::to_string(peer::ClosedPort()).c_str()));
  ASSERT_TRUE(Click(IDC_START));
  // Past the device's creation, without an error box.
  ASSERT_TRUE(WaitStatus("Wait for incoming..."));
  EXPECT_EQ(host_.BoxCount(), 0u);
}

TEST_F(RunCommandsTest, ARunThatFailsEndsByItselfAndTheWindowResets) {
  StartRefusedClient();
  const BoxInfo box = host_.Boxes()[0];
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_NE(box.threadId, GetCurrentThreadId());
  ASSERT_TRUE(WaitStatus("Stopped"));
  EXPECT_TRUE(WaitForIdle());
  EXPECT_EQ(host_.BoxCount(), 1u);
}

TEST_F(RunCommandsTest, StopWhileTheWorkerIsHeldInABoxTimesOutThenTheRunStillResets) {
  host_.HoldBoxes(true);
  StartRefusedClient();
  ASSERT_TRUE(WaitEnabled(IDC_STOP, true));
  const Clock::time_point stop = Clock::now();
  ASSERT_TRUE(Click(IDC_STOP));
  ASSERT_TRUE(host_.WaitForBoxCount(2, kStopWaitMs * 10));
  EXPECT_GE(MsSince(stop), kStopWaitMs - 100);
  ExpectBox(host_.Boxes()[1], window_, "Error", "Timed out", MB_ICONERROR);
  host_.Dismiss(1);
  EXPECT_TRUE(WaitWindowEnabled());
  EXPECT_TRUE(ShowsRunningLook());
  EXPECT_NE(Status(), "Stopped");

  host_.Dismiss(0);  // the worker sees its stop request and ends
  ASSERT_TRUE(WaitStatus("Stopped"));
  EXPECT_TRUE(WaitForIdle());
  EXPECT_EQ(appState.stopRequested.load(), 0);

  // The next run starts with the stop request clear.
  host_.HoldBoxes(false);
  StartServer(peer::ClosedPort());
  EXPECT_TRUE(ShowsRunningLook());
}

TEST_F(RunCommandsTest, InputDuringTheStopWaitPostponesTheTimeOut) {
  host_.HoldBoxes(true);
  StartRefusedClient();
  ASSERT_TRUE(WaitEnabled(IDC_STOP, true));
  ASSERT_TRUE(Click(IDC_STOP));
  for (int i = 0; i < 15; ++i) {  // 4.5 s of mouse movement, a move every 300 ms
    ASSERT_TRUE(twtest::SimulateMouseMove(window_));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_EQ(host_.BoxCount(), 1u);
  const Clock::time_point still = Clock::now();
  ASSERT_TRUE(host_.WaitForBoxCount(2, kStopWaitMs * 10));
  EXPECT_GE(MsSince(still), kStopWaitMs - 400);
  EXPECT_EQ(host_.Boxes()[1].text, "Timed out");
}

TEST_F(RunCommandsTest, ClosingTheWindowDuringARunStopsTheWorkerFirst) {
  StartServer(peer::ClosedPort());
  ASSERT_TRUE(TestHost::Close(window_));
  ASSERT_TRUE(WaitForProgramEnd());
  EXPECT_NE(appState.runState.load(), kRunRunning);
  EXPECT_EQ(host_.BoxCount(), 0u);
}

TEST_F(RunCommandsTest, ClosingTheWindowWhileTheWorkerIsHeldEndsAfterTheTimeOut) {
  host_.HoldBoxes(true);
  StartRefusedClient();
  ASSERT_TRUE(WaitEnabled(IDC_STOP, true));
  ASSERT_TRUE(TestHost::Close(window_));
  ASSERT_TRUE(host_.WaitForBoxCount(2, kStopWaitMs * 10));
  EXPECT_EQ(host_.Boxes()[1].text, "Timed out");
  host_.Dismiss(1);
  // The program ends with the worker still held in its box.
  ASSERT_TRUE(WaitForProgramEnd());
  EXPECT_FALSE(WorkerEnded(0));
  host_.Dismiss(0);
  EXPECT_TRUE(WorkerEnded(kWaitMs));
}

TEST_F(RunCommandsTest, ARunEndingWhileTheAboutBoxIsOpenResetsTheMainWindow) {
  host_.HoldBoxes(true);
  StartRefusedClient();
  ASSERT_TRUE(WaitEnabled(IDC_STOP, true));
  ASSERT_TRUE(Click(IDC_ABOUT));
  HWND about = host_.WaitForDialog("About", kWaitMs);
  ASSERT_NE(about, nullptr);

  host_.Dismiss(0);
  ASSERT_TRUE(WaitStatus("Stopped"));
  EXPECT_TRUE(WaitForIdle());
  EXPECT_TRUE(host_.State(about).value_or(twplat::WindowState{}).visible);
  ASSERT_TRUE(TestHost::Press(about, VK_ESCAPE));
}

class ClientInfoTest : public RunCommandsTest {
 protected:
  // Connects to the Server and sends a header announcing 48000 Hz, 1 channel
  // and blocks of 4096 bytes.
  int ConnectWithHeader(int port) {
    int connection = peer::Connect(port);
    const HeaderImage image = EncodeHeader(MakeHeader(twtest::PcmFormat(1, 48000, 16), 4096));
    EXPECT_TRUE(peer::SendAll(connection, image.bytes, sizeof image.bytes));
    return connection;
  }

  void ExpectInfoBox(const char* text) {
    const size_t before = host_.BoxCount();
    ASSERT_TRUE(Click(IDC_CLIENT_INFO));
    ASSERT_TRUE(host_.WaitForBoxCount(before + 1, kWaitMs));
    ExpectBox(host_.Boxes()[before], window_, "Info", text, MB_OK);
    ASSERT_TRUE(WaitWindowEnabled());
  }
};

TEST_F(ClientInfoTest, ShowsTheLastClientsFormatUntilTheRunEnds) {
  const int port = peer::ClosedPort();
  StartServer(port);
  EXPECT_FALSE(Enabled(IDC_CLIENT_INFO));
  int connection = ConnectWithHeader(port);
  ASSERT_TRUE(WaitEnabled(IDC_CLIENT_INFO, true));
  ExpectInfoBox("Client 48000Hz 1 channels 4096 blen");

  peer::Close(connection);  // the Server waits again and keeps the button
  ASSERT_TRUE(WaitStatus("Wait for incoming..."));
  EXPECT_TRUE(Enabled(IDC_CLIENT_INFO));
  ExpectInfoBox("Client 48000Hz 1 channels 4096 blen");

  ASSERT_TRUE(Click(IDC_STOP));
  EXPECT_TRUE(WaitForIdle());
}

}  // namespace
}  // namespace twtest
