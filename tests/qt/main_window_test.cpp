// The main window on the desktop: the real widgets show what the window
// system holds, in both roles and through a run, and the user's clicks, keys
// and slider moves reach the program.
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include "core/app_state.h"
#include "platform/qt/ellipsis_label.h"
#include "platform/qt/field_suggestions.h"
#include "tests/qt/desktop_fixture.h"
#include "tests/support/loopback_peer.h"

namespace twtest {
namespace {

class DesktopWindowTest : public DesktopTest {
 protected:
  bool Checked(int id) {
    auto* button = Widget<QRadioButton>(id);
    return button != nullptr && button->isChecked();
  }

  // The device list's entries and choice as the window system holds them.
  QStringList SystemItems() {
    QStringList items;
    HWND list = GetDlgItem(Main(), IDC_DEVICE_LIST);
    LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
      char text[256] = {};
      SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
      items.append(QString::fromUtf8(text));
    }
    return items;
  }

  bool DeviceListShowsTheSystemList() {
    auto* combo = Widget<QComboBox>(IDC_DEVICE_LIST);
    if (combo == nullptr) {
      return false;
    }
    QStringList shown;
    for (int index = 0; index < combo->count(); ++index) {
      shown.append(combo->itemText(index));
    }
    LRESULT chosen = SendMessageA(GetDlgItem(Main(), IDC_DEVICE_LIST), CB_GETCURSEL, 0, 0);
    return !shown.isEmpty() && shown == SystemItems() && combo->currentIndex() == chosen &&
           combo->currentText() == QString::fromStdString(SystemText(IDC_DEVICE_LIST));
  }

  void ExpectRoleLook(bool client) {
    EXPECT_TRUE(ShowsIdleLook());
    EXPECT_EQ(Checked(IDC_CLIENT), client);
    EXPECT_EQ(Checked(IDC_SERVER), !client);
    EXPECT_EQ(Enabled(IDC_TARGET_HOST), client);
    EXPECT_EQ(Enabled(IDC_VOLUME), !client);
    EXPECT_TRUE(Enabled(IDC_DEVICE_LIST));
    EXPECT_TRUE(Enabled(IDC_TARGET_PORT));
    EXPECT_TRUE(Enabled(IDC_ABOUT));
    EXPECT_TRUE(Enabled(IDC_EXIT));
    EXPECT_TRUE(DeviceListShowsTheSystemList());
  }
};

TEST_F(DesktopWindowTest, OpensAtTheTopLeftInTheClientRole) {
  session_.Await(
      "Client ready", [this] { return StatusIs("Client ready"); },
      [this] {
        twqt::DialogView* main = MainWidget();
        EXPECT_EQ(main->windowTitle(), QStringLiteral("Audio streamer"));
        EXPECT_EQ(main->pos(), QPoint(0, 0));
        EXPECT_EQ(main->minimumSize(), main->maximumSize()) << "fixed size";
        EXPECT_TRUE(main->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        EXPECT_FALSE(main->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        EXPECT_EQ(main->windowModality(), Qt::NonModal);
        QList<QSize> iconSizes = main->windowIcon().availableSizes();
        EXPECT_TRUE(iconSizes.contains(QSize(16, 16)) && iconSizes.contains(QSize(32, 32)) &&
                    iconSizes.contains(QSize(48, 48)));

        ExpectRoleLook(true);
        EXPECT_EQ(Widget<QLineEdit>(IDC_TARGET_PORT)->text(), QStringLiteral("5567"));
        QString host = Widget<QLineEdit>(IDC_TARGET_HOST)->text();
        EXPECT_FALSE(host.isEmpty());
        EXPECT_EQ(host.toStdString(), SystemText(IDC_TARGET_HOST));
        auto* slider = Widget<QSlider>(IDC_VOLUME);
        EXPECT_EQ(slider->minimum(), -50);
        EXPECT_EQ(slider->maximum(), 0);
        EXPECT_EQ(slider->value(), 0) << "the thumb at the right end";
        EXPECT_EQ(appState.volume.load(), 0);
        EXPECT_TRUE(Widget<QPushButton>(IDC_START)->isDefault());
        EXPECT_EQ(main->focusWidget(), Widget<QPushButton>(IDC_START)) << "the first tab stop";
        SaveScreenshot(main, "client-idle");
      });
  session_.Run();
}

TEST_F(DesktopWindowTest, RoleButtonsSwitchTheControlsBothWays) {
  QStringList captureDevices;
  session_.Await(
      "Client ready", [this] { return StatusIs("Client ready"); },
      [&] { captureDevices = SystemItems(); });
  ChooseServer();
  session_.Await(
      "the Server role's look", [this] { return Checked(IDC_SERVER); },
      [&] {
        ExpectRoleLook(false);
        EXPECT_NE(SystemItems(), captureDevices) << "the playback devices are listed";
      });
  ChooseClient();
  session_.Await(
      "the Client role's look", [this] { return Checked(IDC_CLIENT); },
      [&] {
        ExpectRoleLook(true);
        EXPECT_EQ(SystemItems(), captureDevices);
      });
  session_.Run();
}

TEST_F(DesktopWindowTest, ServerRunFollowsStartAndStop) {
  StartServer(peer::ClosedPort());
  session_
      .Await(
          "the running look", [this] { return ShowsRunningLook(); },
          [this] {
            EXPECT_FALSE(Enabled(IDC_CLIENT_INFO));
            EXPECT_TRUE(Enabled(IDC_ABOUT));
            EXPECT_TRUE(Enabled(IDC_EXIT));
            EXPECT_TRUE(Enabled(IDC_DEVICE_LIST));
            ClickWidget(IDC_STOP);
          })
      .Await("Stopped", [this] { return StatusIs("Stopped"); })
      .Await(
          "the idle look", [this] { return ShowsIdleLook(); },
          [] { EXPECT_EQ(appState.runState.load(), kRunIdle); });
  session_.Run();
}

// Escape is the dialog's IDCANCEL, which the main window leaves alone; Enter
// clicks its default button, Start.
TEST_F(DesktopWindowTest, EnterStartsAndEscapeDoesNothing) {
  const QString port = QString::number(peer::ClosedPort());
  ChooseServer();
  session_.Then([this, port] { TypeOver(Widget<QLineEdit>(IDC_TARGET_PORT), port); })
      .Then([this] { QTest::keyClick(Widget<QLineEdit>(IDC_TARGET_PORT), Qt::Key_Escape); })
      // Input is handled in order: once a later key is in, Escape was too.
      .Then([this] { QTest::keyClicks(Widget<QLineEdit>(IDC_TARGET_PORT), QStringLiteral("0")); })
      .Await(
          "the key after Escape handled",
          [this, port] { return SystemText(IDC_TARGET_PORT) == (port + "0").toStdString(); },
          [this] {
            EXPECT_TRUE(IsWindow(Main()));
            EXPECT_TRUE(MainWidget()->isVisible());
            EXPECT_TRUE(StatusIs("Server ready"));
            EXPECT_TRUE(ShowsIdleLook());
          })
      .Then([this, port] { TypeOver(Widget<QLineEdit>(IDC_TARGET_PORT), port); })
      .Await("the port in the window system",
             [this, port] { return SystemText(IDC_TARGET_PORT) == port.toStdString(); })
      .Then([this] { QTest::keyClick(Widget<QLineEdit>(IDC_TARGET_PORT), Qt::Key_Return); })
      .Await(
          "Wait for incoming...", [this] { return StatusIs("Wait for incoming..."); },
          [this] { EXPECT_TRUE(ShowsRunningLook()); });
  session_.Run();
}

TEST_F(DesktopWindowTest, SliderStepsSetTheVolume) {
  ChooseServer();
  session_.Then([this] { QTest::keyClick(Widget<QSlider>(IDC_VOLUME), Qt::Key_Home); })
      .Await("the left end: -5000", [] { return appState.volume.load() == -5000; })
      .Then([this] { QTest::keyClick(Widget<QSlider>(IDC_VOLUME), Qt::Key_Right); })
      .Await("one step right: -4900", [] { return appState.volume.load() == -4900; })
      .Then([this] { QTest::keyClick(Widget<QSlider>(IDC_VOLUME), Qt::Key_End); })
      .Await("the right end: 0", [] { return appState.volume.load() == 0; });
  session_.Run();
}

// Typing keeps what the user typed while its characters reach the window
// system one by one; typing into the device list drops its choice, and a
// picked entry is chosen.
TEST_F(DesktopWindowTest, TypingAndPickingReachTheWindowSystem) {
  session_
      .Then([this] {
        TypeOver(Widget<QLineEdit>(IDC_TARGET_HOST), QStringLiteral("127.0.0.1"));
        EXPECT_EQ(Widget<QLineEdit>(IDC_TARGET_HOST)->text(), QStringLiteral("127.0.0.1"));
      })
      .Await(
          "the host in the window system",
          [this] { return SystemText(IDC_TARGET_HOST) == "127.0.0.1"; },
          [this] {
            EXPECT_EQ(Widget<QLineEdit>(IDC_TARGET_HOST)->text(), QStringLiteral("127.0.0.1"));
          })
      .Then([this] { TypeOver(Widget<QLineEdit>(IDC_TARGET_PORT), QStringLiteral("12ab34")); })
      .Await("digits only in the port", [this] { return SystemText(IDC_TARGET_PORT) == "1234"; })
      .Then([this] {
        QComboBox* combo = Widget<QComboBox>(IDC_DEVICE_LIST);
        TypeOver(combo->lineEdit(), QStringLiteral("my device"));
      })
      .Await(
          "the typed device text, no choice",
          [this] {
            return SystemText(IDC_DEVICE_LIST) == "my device" &&
                   SendMessageA(GetDlgItem(Main(), IDC_DEVICE_LIST), CB_GETCURSEL, 0, 0) == CB_ERR;
          },
          [this] {
            EXPECT_EQ(Widget<QComboBox>(IDC_DEVICE_LIST)->currentText(),
                      QStringLiteral("my device"));
          })
      .Then([this] {
        QComboBox* combo = Widget<QComboBox>(IDC_DEVICE_LIST);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
      })
      .Await(
          "an entry chosen",
          [this] {
            return SendMessageA(GetDlgItem(Main(), IDC_DEVICE_LIST), CB_GETCURSEL, 0, 0) >= 0;
          },
          [this] { EXPECT_TRUE(DeviceListShowsTheSystemList()); });
  session_.Run();
}

// A host's suggestions for the host field (the Servers found on the
// network): offered as the user types and, all of them, from the field's
// arrow button; the list follows the source; a chosen one reaches the window
// system as typed text.
TEST_F(DesktopWindowTest, TheHostFieldOffersTheSuggestedServers) {
  std::vector<std::string> found = {"Kitchen speaker", "Study"};
  twqt::OfferSuggestions(IDC_TARGET_HOST, [&found] { return found; });
  struct Withdrawn {
    ~Withdrawn() { twqt::OfferSuggestions(IDC_TARGET_HOST, {}); }
  } withdrawn;
  auto completer = [this] { return Widget<QLineEdit>(IDC_TARGET_HOST)->completer(); };
  session_.Then([this] { TypeOver(Widget<QLineEdit>(IDC_TARGET_HOST), QStringLiteral("sT")); })
      .Await("the one Server that matches, offered",
             [&] {
               return completer() != nullptr && completer()->popup()->isVisible() &&
                      completer()->completionCount() == 1 &&
                      completer()->currentCompletion() == QStringLiteral("Study");
             })
      .Then([&] {
        QTest::keyClick(completer()->popup(), Qt::Key_Down);
        QTest::keyClick(completer()->popup(), Qt::Key_Return);
      })
      .Await("the chosen Server in the window system",
             [this] { return SystemText(IDC_TARGET_HOST) == "Study"; })
      .Then([&] {
        found.push_back("Attic");
        QLineEdit* field = Widget<QLineEdit>(IDC_TARGET_HOST);
        ASSERT_FALSE(field->actions().isEmpty());
        // The arrow button takes no tab stop: the window's tab order stays.
        for (QWidget* child : field->findChildren<QWidget*>()) {
          if (child->isVisible() && child != completer()->popup()) {
            EXPECT_EQ(child->focusPolicy(), Qt::NoFocus) << child->metaObject()->className();
          }
        }
        field->actions().back()->trigger();
      })
      .Await(
          "every Server dropped down, the new one too",
          [&] { return completer()->popup()->isVisible() && completer()->completionCount() == 3; })
      .Then([&] { QTest::keyClick(completer()->popup(), Qt::Key_Escape); })
      .Then([this] { TypeOver(Widget<QLineEdit>(IDC_TARGET_HOST), QStringLiteral("10.0.0.9")); })
      .Await("a typed host as before",
             [this] { return SystemText(IDC_TARGET_HOST) == "10.0.0.9"; });
  session_.Run();
}

// The status line is as wide as the template makes it; a longer text shows
// its beginning and an ellipsis, and the window system keeps it whole.
TEST_F(DesktopWindowTest, LongStatusTextIsCutAtItsEnd) {
  const char* longText = "Received 123456789 bytes from a Client far away on a slow line";
  session_.Then([this, longText] { SetDlgItemTextA(Main(), IDC_STATUS, longText); })
      .Await(
          "the long status", [this, longText] { return StatusIs(longText); },
          [this, longText] {
            auto* status = dynamic_cast<twqt::EllipsisLabel*>(Widget<QLabel>(IDC_STATUS));
            ASSERT_NE(status, nullptr);
            QString shown = status->ShownText();
            ASSERT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
            shown.chop(1);
            EXPECT_TRUE(QString::fromUtf8(longText).startsWith(shown));
            EXPECT_GT(shown.size(), 10);
            EXPECT_LE(status->fontMetrics().horizontalAdvance(status->ShownText()),
                      status->contentsRect().width());
            SetDlgItemTextA(Main(), IDC_STATUS, "Ready");
          })
      .Await("a short status shown whole", [this] {
        auto* status = dynamic_cast<twqt::EllipsisLabel*>(Widget<QLabel>(IDC_STATUS));
        return status->ShownText() == QStringLiteral("Ready");
      });
  session_.Run();
}

TEST_F(DesktopWindowTest, ExitEndsTheProgram) {
  session_.Then([this] { ClickWidget(IDC_EXIT); });
  session_.Run();
  EXPECT_TRUE(session_.endedByProgram());
}

TEST_F(DesktopWindowTest, CloseBoxEndsTheProgram) {
  session_.Then([this] { MainWidget()->close(); });
  session_.Run();
  EXPECT_TRUE(session_.endedByProgram());
}

}  // namespace
}  // namespace twtest
