// The error reporter: the error box's text (the system's, a fallback name or "Unknown
// error"), its caption, style and owner, and the blocking of the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/error_reporter.h"
#include "tests/support/test_host.h"

namespace {

class ErrorReporter : public ::testing::Test {
 protected:
  twtest::BoxInfo Report(const char* operation, LONG code) {
    size_t before = host_.BoxCount();
    ReportError(operation, code);
    EXPECT_EQ(before + 1, host_.BoxCount());
    return host_.Boxes().back();
  }

  twtest::TestHost host_;
};

TEST_F(ErrorReporter, CodeTheSystemKnowsShowsTheSystemText) {
  twtest::BoxInfo box = Report("Connect", 10061);
  EXPECT_EQ("Error 0x274d in Connect", box.caption);
  EXPECT_EQ("No connection could be made because the target machine actively refused it.\r\n",
            box.text);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), box.style);
  EXPECT_EQ(0x40u, box.style);
  EXPECT_EQ(nullptr, box.owner);
}

TEST_F(ErrorReporter, DirectSoundCodeShowsItsFallbackName) {
  twtest::BoxInfo box = Report("DirectSoundCreate", static_cast<LONG>(0x88780078));
  EXPECT_EQ("DSERR_NODRIVER", box.text);
  EXPECT_EQ("Error 0x88780078 in DirectSoundCreate", box.caption);
}

TEST_F(ErrorReporter, FallbackTableMatchesExactly) {
  EXPECT_EQ("DS_NO_VIRTUALIZATION", Report("Play", 0x0878000A).text);  // a success code
  EXPECT_EQ("DSERR_BUFFERLOST", Report("Playback Lock", static_cast<LONG>(0x88780096)).text);
  EXPECT_EQ("DSERR_OBJECTNOTFOUND", Report("Play", static_cast<LONG>(0x88781161)).text);
  EXPECT_EQ("Unknown error", Report("Play", static_cast<LONG>(0x88781162)).text);  // one off
}

// COM's generic failures have system texts on Windows, so the DirectSound
// names the fallback table gives them never show there, nor here.
TEST_F(ErrorReporter, GenericComFailuresShowTheSystemsText) {
  EXPECT_EQ("Unspecified error\r\n", Report("Play", static_cast<LONG>(0x80004005)).text);
  EXPECT_EQ("The parameter is incorrect.\r\n", Report("Play", static_cast<LONG>(0x80070057)).text);
  EXPECT_EQ("Access is denied.\r\n", Report("Play", static_cast<LONG>(0x80070005)).text);
  EXPECT_EQ("No such interface supported\r\n", Report("Play", static_cast<LONG>(0x80004002)).text);
  EXPECT_EQ(Report("Send", 10053).text, Report("Send", static_cast<LONG>(0x80072745)).text);
}

TEST_F(ErrorReporter, UnknownCodeShowsUnknownError) {
  twtest::BoxInfo box = Report("CreateSoundBuffer", 0x12345678);
  EXPECT_EQ("Unknown error", box.text);
  EXPECT_EQ("Error 0x12345678 in CreateSoundBuffer", box.caption);
  EXPECT_EQ("Error 0xffffffff in Play", Report("Play", -1).caption);
}

TEST_F(ErrorReporter, SameCodeSameTextWhateverTheOperation) {
  twtest::BoxInfo send = Report("SendData", 10054);
  twtest::BoxInfo receive = Report("ReceiveData", 10054);
  EXPECT_EQ(send.text, receive.text);
  EXPECT_EQ("Error 0x2746 in SendData", send.caption);
  EXPECT_EQ("Error 0x2746 in ReceiveData", receive.caption);
}

TEST_F(ErrorReporter, LongestOperationNameFitsTheCaption) {
  EXPECT_EQ("Error 0x88780032 in Playback SetNotificationPositions",
            Report("Playback SetNotificationPositions", static_cast<LONG>(0x88780032)).caption);
}

TEST_F(ErrorReporter, WorkerIsBlockedUntilTheBoxIsDismissed) {
  host_.HoldBoxes(true);
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    ReportError("ReceiveData", 10054);
    returned.store(true);
  });
  ASSERT_TRUE(host_.WaitForBoxCount(1, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned.load());
  host_.Dismiss(0);
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(nullptr, host_.Boxes()[0].owner);
}

}  // namespace
