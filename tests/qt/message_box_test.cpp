// Message boxes on the desktop: a worker's box leaves the main window usable
// while its worker waits for the answer; a box the main window owns is modal
// to it.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <memory>
#include <thread>

#include "core/app_state.h"
#include "tests/qt/desktop_fixture.h"
#include "tests/support/loopback_peer.h"

namespace twtest {
namespace {

class MessageBoxTest : public DesktopTest {
 protected:
  static bool BoxShown(const char* caption) {
    QMessageBox* box = VisibleBox();
    return box != nullptr && box->windowTitle() == QString::fromUtf8(caption);
  }
  static void Answer(QMessageBox::StandardButton button) {
    QMessageBox* box = VisibleBox();
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->button(button), nullptr);
    QTest::mouseClick(box->button(button), Qt::LeftButton);
  }
};

TEST_F(MessageBoxTest, WorkerErrorBoxLeavesTheMainWindowUsable) {
  const QString port = QString::number(peer::ClosedPort());
  session_
      .Then([this, port] {
        TypeOver(Widget<QLineEdit>(IDC_TARGET_HOST), QStringLiteral("127.0.0.1"));
        TypeOver(Widget<QLineEdit>(IDC_TARGET_PORT), port);
      })
      .Await(
          "host and port in the window system",
          [this, port] {
            return SystemText(IDC_TARGET_HOST) == "127.0.0.1" &&
                   SystemText(IDC_TARGET_PORT) == port.toStdString();
          },
          [this] { ClickWidget(IDC_START); })
      .Await(
          "the worker's Connect box", [] { return BoxShown("Error 0x274d in Connect"); },
          [this] {
            QMessageBox* box = VisibleBox();
            EXPECT_EQ(box->parentWidget(), nullptr);
            EXPECT_EQ(box->windowModality(), Qt::NonModal);
            EXPECT_EQ(box->icon(), QMessageBox::Information);
            EXPECT_FALSE(box->text().isEmpty());
            EXPECT_FALSE(box->text().endsWith(QLatin1Char('\n')));
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
            EXPECT_TRUE(MainWidget()->isEnabled());
            EXPECT_TRUE(IsWindowEnabled(Main()));
            EXPECT_TRUE(ShowsRunningLook()) << "the worker waits for the answer";
            SaveScreenshot(box, "worker-error-box");
            // The user works in the main window meanwhile.
            QTest::keyClicks(Widget<QLineEdit>(IDC_TARGET_PORT), QStringLiteral("9"));
          })
      .Await(
          "typing reaches the window system with the box open",
          [this, port] { return SystemText(IDC_TARGET_PORT) == (port + "9").toStdString(); },
          [] { Answer(QMessageBox::Ok); })
      .Await("Stopped once the box is answered", [this] { return StatusIs("Stopped"); })
      .Await(
          "the idle look", [this] { return ShowsIdleLook(); },
          [] { EXPECT_EQ(VisibleBox(), nullptr); });
  session_.Run();
}

TEST_F(MessageBoxTest, OwnedBoxIsModalToTheMainWindow) {
  session_
      .Then([this] {
        TypeOver(Widget<QLineEdit>(IDC_TARGET_PORT), QString());
        ClickWidget(IDC_START);
      })
      .Await(
          "the port box", [] { return BoxShown("Error"); },
          [this] {
            QMessageBox* box = VisibleBox();
            EXPECT_EQ(box->text(), QStringLiteral("Enter correct target port"));
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            EXPECT_EQ(box->parentWidget(), MainWidget());
            EXPECT_EQ(box->windowModality(), Qt::WindowModal);
            EXPECT_FALSE(IsWindowEnabled(Main()));
            // A click that gets past Qt reaches a disabled window: refused.
            Widget<QAbstractButton>(IDC_START)->click();
          })
      .Then([] { Answer(QMessageBox::Ok); })
      .Await(
          "the main window enabled again", [this] { return IsWindowEnabled(Main()) != FALSE; },
          [this] {
            EXPECT_EQ(VisibleBox(), nullptr) << "no second box from the refused click";
            EXPECT_TRUE(ShowsIdleLook());
            EXPECT_TRUE(StatusIs("Client ready"));
          });
  session_.Run();
}

// The host on its own: boxes opened from a worker thread, answered by the
// user or taken down by the window system.
class QtHostBoxTest : public ::testing::Test {
 protected:
  // Opens the box from another thread, as a worker does, and lets Qt show it.
  QMessageBox* OpenFromWorker(const std::shared_ptr<twplat::MessageBoxRecord>& box) {
    std::thread worker([&] { host_.MessageBoxOpened(box); });
    worker.join();
    QCoreApplication::processEvents();
    return VisibleBox();
  }
  static QMessageBox* VisibleBox() { return VisibleMessageBox(); }

  twqt::QtHost host_;
};

TEST_F(QtHostBoxTest, TheUsersButtonAnswersTheBox) {
  auto box = std::make_shared<twplat::MessageBoxRecord>(nullptr, "Go on?", "Question", MB_OKCANCEL);
  QMessageBox* shown = OpenFromWorker(box);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->windowTitle(), QStringLiteral("Question"));
  EXPECT_EQ(shown->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(shown->icon(), QMessageBox::NoIcon);
  QTest::mouseClick(shown->button(QMessageBox::Cancel), Qt::LeftButton);
  EXPECT_TRUE(box->closed());
  EXPECT_EQ(box->result(), IDCANCEL);
}

TEST_F(QtHostBoxTest, EscapeAnswersOkWhenThatIsTheOnlyButton) {
  auto box = std::make_shared<twplat::MessageBoxRecord>(nullptr, "Failed", "Error", MB_ICONERROR);
  QMessageBox* shown = OpenFromWorker(box);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->icon(), QMessageBox::Critical);
  QTest::keyClick(shown, Qt::Key_Escape);
  EXPECT_EQ(box->result(), IDOK);
}

TEST_F(QtHostBoxTest, ABoxTheWindowSystemClosedGoesFromTheScreen) {
  auto box = std::make_shared<twplat::MessageBoxRecord>(nullptr, "Bye", "Info", MB_OK);
  ASSERT_NE(OpenFromWorker(box), nullptr);
  box->Close(IDOK);
  std::thread worker([&] { host_.MessageBoxClosed(box); });
  worker.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(VisibleBox(), nullptr);
}

// The host goes while a worker still waits for an answer: the worker is let
// go rather than left waiting for ever.
TEST(QtHostLifetimeTest, AnOpenBoxIsAnsweredWhenTheHostGoes) {
  auto box = std::make_shared<twplat::MessageBoxRecord>(nullptr, "Still here", "Info", MB_OK);
  {
    twqt::QtHost host;
    host.MessageBoxOpened(box);
    QCoreApplication::processEvents();
    ASSERT_NE(VisibleMessageBox(), nullptr);
  }
  EXPECT_TRUE(box->closed());
}

}  // namespace
}  // namespace twtest
