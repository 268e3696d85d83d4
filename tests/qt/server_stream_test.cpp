// A Server run on the desktop receiving a stream: the status line, the
// buffer meter and "Client Info" follow it, and the Info box shows the
// format the Client announced.
#include <QAbstractButton>
#include <QProgressBar>
#include <QTest>

#include <memory>

#include "tests/qt/desktop_fixture.h"
#include "tests/qt/streaming_client.h"
#include "tests/support/loopback_peer.h"

namespace twtest {
namespace {

class ServerStreamTest : public DesktopTest {
 protected:
  std::unique_ptr<StreamingClient> client_;
  QString statusWithBoxOpen_;
};

TEST_F(ServerStreamTest, ReceivingShowsPlaybackTheMeterAndTheClientsFormat) {
  const int port = peer::ClosedPort();
  StartServer(port);
  session_.Then([this, port] { client_ = std::make_unique<StreamingClient>(port); })
      .Await("Playback with Client Info enabled",
             [this] { return StatusIs("Playback") && Enabled(IDC_CLIENT_INFO); })
      .Await(
          "sound queued on the buffer meter",
          [this] {
            auto* meter = Widget<QProgressBar>(IDC_BUFFER_METER);
            return meter->maximum() > 1 && meter->value() > 0;
          },
          [this] {
            EXPECT_TRUE(ShowsRunningLook());
            SaveScreenshot(MainWidget(), "server-receiving");
            ClickWidget(IDC_CLIENT_INFO);
          })
      .Await(
          "the Info box",
          [] { return VisibleBox() != nullptr && VisibleBox()->windowTitle() == "Info"; },
          [this] {
            QMessageBox* box = VisibleBox();
            EXPECT_EQ(box->text(), QStringLiteral("Client 44100Hz 2 channels 24576 blen"));
            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            EXPECT_EQ(box->parentWidget(), MainWidget());
            EXPECT_EQ(box->windowModality(), Qt::WindowModal);
            statusWithBoxOpen_ = Status();
          })
      // The box's modal loop keeps handling the worker's messages: each
      // chunk's status text is sent, and the worker waits until it is shown.
      .Await(
          "the status moving on while the box is open",
          [this] { return Status() != statusWithBoxOpen_ && VisibleBox() != nullptr; },
          [] {
            QMessageBox* box = VisibleBox();
            ASSERT_NE(box, nullptr);
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
          })
      .Await(
          "the Info box answered", [this] { return IsWindowEnabled(Main()) != FALSE; },
          [this] { ClickWidget(IDC_STOP); })
      .Await("Stopped", [this] { return StatusIs("Stopped") && ShowsIdleLook(); });
  session_.Run();
  client_.reset();
}

}  // namespace
}  // namespace twtest
