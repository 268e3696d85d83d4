// The main window for a keyboard and a screen-reader user: every enabled
// control is a Tab stop, the role buttons one stop with the arrow keys
// within, fields named by their labels, and a whole Server run by keys alone.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include <set>

#include "tests/qt/desktop_fixture.h"
#include "tests/support/loopback_peer.h"

namespace twtest {
namespace {

constexpr int kMostTabsAround = 30;

class KeyboardTest : public DesktopTest {
 protected:
  // The control that has the window's focus (a combo box for its field).
  QWidget* Focused() {
    QWidget* focus = MainWidget()->focusWidget();
    while (focus != nullptr && focus->parentWidget() != MainWidget()) {
      focus = focus->parentWidget();
    }
    return focus;
  }
  bool FocusOn(int id) { return Focused() != nullptr && Focused() == Widget<QWidget>(id); }

  // A key as the user presses it: to whatever has the focus.
  void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = MainWidget()->focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, static_cast<Qt::Key>(key), modifiers);
  }
  // Tab until the control has the focus; false when a round ends without it.
  bool TabTo(int id) {
    for (int tabs = 0; tabs < kMostTabsAround && !FocusOn(id); ++tabs) {
      Press(Qt::Key_Tab);
    }
    return FocusOn(id);
  }

  static QString NameOf(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face != nullptr ? face->text(QAccessible::Name) : QString();
  }
  // The text of what assistive technology reports as the widget's label.
  static QString LabelOf(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    if (face == nullptr) {
      return QString();
    }
    const auto labels = face->relations(QAccessible::Label);
    return labels.size() == 1 ? labels.front().first->text(QAccessible::Name) : QString();
  }
};

TEST_F(KeyboardTest, KeysAloneSwitchToServerSetThePortStartAndStop) {
  const QString port = QString::number(peer::ClosedPort());
  session_
      .Then([this] {
        ASSERT_TRUE(TabTo(IDC_CLIENT)) << "the role group is a Tab stop";
        Press(Qt::Key_Right);
      })
      .Await(
          "Server chosen by the arrow key", [this] { return StatusIs("Server ready"); },
          [this, port] {
            EXPECT_TRUE(Widget<QRadioButton>(IDC_SERVER)->isChecked());
            EXPECT_TRUE(FocusOn(IDC_SERVER));
            ASSERT_TRUE(TabTo(IDC_TARGET_PORT));
            Press(Qt::Key_A, Qt::ControlModifier);
            for (QChar digit : port) {
              Press(Qt::Key_0 + digit.digitValue());
            }
          })
      .Await("the port typed",
             [this, port] { return SystemText(IDC_TARGET_PORT) == port.toStdString(); })
      .Then([this] { Press(Qt::Key_Return); })
      .Await(
          "Enter started the Server", [this] { return StatusIs("Wait for incoming..."); },
          [this] {
            ASSERT_TRUE(TabTo(IDC_STOP));
            Press(Qt::Key_Space);
          })
      .Await("Stop pressed with Space", [this] { return StatusIs("Stopped"); });
  session_.Run();
}

// The arrow keys go round the group both ways, and Tab and Shift+Tab reach
// every enabled control, the group once, at its checked button.
TEST_F(KeyboardTest, EveryEnabledControlIsOneTabStop) {
  std::multiset<int> reached;
  const int ids[] = {IDC_START,       IDC_EXIT,        IDC_DEVICE_LIST, IDC_TARGET_HOST,
                     IDC_TARGET_PORT, IDC_ABOUT,       IDC_STOP,        IDC_CLIENT,
                     IDC_SERVER,      IDC_CLIENT_INFO, IDC_VOLUME};
  auto goRound = [this, &reached, &ids](Qt::KeyboardModifiers modifiers) {
    reached.clear();
    for (int tabs = 0; tabs < kMostTabsAround; ++tabs) {
      Press(Qt::Key_Tab, modifiers);
      for (int id : ids) {
        reached.insert(FocusOn(id) ? id : 0);
      }
      if (FocusOn(IDC_START)) {
        break;
      }
    }
    reached.erase(0);
  };
  session_
      .Then([this] {
        ASSERT_TRUE(TabTo(IDC_CLIENT));
        Press(Qt::Key_Left);
      })
      .Await("Left wraps round to Server", [this] { return StatusIs("Server ready"); })
      .Then([this] { Press(Qt::Key_Down); })
      .Await(
          "Down wraps round to Client", [this] { return StatusIs("Client ready"); },
          [this] { Press(Qt::Key_Up); })
      .Await(
          "Up to Server", [this] { return StatusIs("Server ready"); },
          [&] {
            EXPECT_TRUE(TabTo(IDC_START));
            for (Qt::KeyboardModifiers modifiers : {Qt::NoModifier, Qt::ShiftModifier}) {
              goRound(modifiers);
              EXPECT_EQ(reached,
                        (std::multiset<int>{IDC_START, IDC_EXIT, IDC_DEVICE_LIST, IDC_TARGET_PORT,
                                            IDC_ABOUT, IDC_SERVER, IDC_VOLUME}))
                  << "Server role, idle: the host field, Stop and Client Info are disabled";
            }
          });
  session_.Run();
}

TEST_F(KeyboardTest, ScreenReadersHearFieldsByTheirLabels) {
  session_.Await(
      "Client ready", [this] { return StatusIs("Client ready"); },
      [this] {
        const std::pair<int, const char*> labelled[] = {{IDC_DEVICE_LIST, "Audio device"},
                                                        {IDC_TARGET_HOST, "Target host"},
                                                        {IDC_TARGET_PORT, "Target port"},
                                                        {IDC_BUFFER_METER, "Buffer"},
                                                        {IDC_VOLUME, "Volume"}};
        for (const auto& [id, label] : labelled) {
          EXPECT_EQ(LabelOf(Widget<QWidget>(id)), QString::fromUtf8(label)) << id;
          // On Linux Qt names an editable combo box by its text, and leaves
          // the label to the relation.
          if (id != IDC_DEVICE_LIST) {
            EXPECT_EQ(NameOf(Widget<QWidget>(id)), QString::fromUtf8(label)) << id;
          }
        }
        EXPECT_EQ(NameOf(Widget<QPushButton>(IDC_START)), QStringLiteral("Start"));
        for (int id : {IDC_CLIENT, IDC_SERVER}) {
          QAccessibleInterface* face = QAccessible::queryAccessibleInterface(Widget<QWidget>(id));
          ASSERT_NE(face, nullptr);
          EXPECT_EQ(face->role(), QAccessible::RadioButton);
          EXPECT_EQ(face->text(QAccessible::Name), id == IDC_CLIENT ? "Client" : "Server");
          EXPECT_EQ(face->text(QAccessible::Description), QStringLiteral("Work as"));
          EXPECT_TRUE(face->state().checkable);
          EXPECT_EQ(face->state().checked, id == IDC_CLIENT);
        }
      });
  session_.Run();
}

}  // namespace
}  // namespace twtest
