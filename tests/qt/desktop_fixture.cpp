#include "tests/qt/desktop_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QTest>

#include "core/app_state.h"

namespace twtest {

void DesktopTest::SetUp() {
  session_.Await("the main window on screen", [this] { return MainShown(); });
}

HWND DesktopTest::Main() const { return appState.mainWindow.load(); }

twqt::DialogView* DesktopTest::MainWidget() {
  return dynamic_cast<twqt::DialogView*>(session_.host().WidgetOf(Main()));
}

bool DesktopTest::MainShown() {
  twqt::DialogView* main = MainWidget();
  return main != nullptr && main->isVisible();
}

twqt::DialogView* DesktopTest::VisibleDialog(int templateId) {
  QString name = QStringLiteral("dialog-%1").arg(templateId);
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible() && window->objectName() == name) {
      return dynamic_cast<twqt::DialogView*>(window);
    }
  }
  return nullptr;
}

QMessageBox* VisibleMessageBox() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(window); box != nullptr && box->isVisible()) {
      return box;
    }
  }
  return nullptr;
}

QString DesktopTest::Status() {
  QLabel* status = Widget<QLabel>(IDC_STATUS);
  return status != nullptr ? status->text() : QString();
}

bool DesktopTest::Enabled(int id) {
  QWidget* widget = session_.host().WidgetOf(GetDlgItem(Main(), id));
  return widget != nullptr && widget->isEnabled();
}

bool DesktopTest::ShowsIdleLook() {
  return Enabled(IDC_START) && !Enabled(IDC_STOP) && Enabled(IDC_CLIENT) && Enabled(IDC_SERVER) &&
         !Enabled(IDC_CLIENT_INFO);
}

bool DesktopTest::ShowsRunningLook() {
  return !Enabled(IDC_START) && Enabled(IDC_STOP) && !Enabled(IDC_CLIENT) && !Enabled(IDC_SERVER);
}

std::string DesktopTest::SystemText(int id) const {
  char text[256] = {};
  GetDlgItemTextA(Main(), id, text, sizeof text);
  return text;
}

void DesktopTest::TypeOver(QLineEdit* field, const QString& text) {
  ASSERT_NE(field, nullptr);
  field->selectAll();
  if (text.isEmpty()) {
    QTest::keyClick(field, Qt::Key_Backspace);
  } else {
    QTest::keyClicks(field, text);
  }
}

void DesktopTest::ClickWidget(int id) {
  auto* button = Widget<QAbstractButton>(id);
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
}

void DesktopTest::ChooseServer() {
  session_.Then([this] { ClickWidget(IDC_SERVER); }).Await("Server ready", [this] {
    return StatusIs("Server ready");
  });
}

void DesktopTest::ChooseClient() {
  session_.Then([this] { ClickWidget(IDC_CLIENT); }).Await("Client ready", [this] {
    return StatusIs("Client ready");
  });
}

void DesktopTest::StartServer(int port) {
  const QString portText = QString::number(port);
  ChooseServer();
  session_.Then([this, portText] { TypeOver(Widget<QLineEdit>(IDC_TARGET_PORT), portText); })
      .Await("the port in the window system",
             [this, portText] { return SystemText(IDC_TARGET_PORT) == portText.toStdString(); })
      .Then([this] { ClickWidget(IDC_START); })
      .Await("Wait for incoming...", [this] { return StatusIs("Wait for incoming..."); });
}

void DesktopTest::SaveScreenshot(QWidget* window, const char* name) {
  ASSERT_NE(window, nullptr);
  QDir().mkpath(QStringLiteral(TW_SCREENSHOT_DIR));
  QString path = QStringLiteral(TW_SCREENSHOT_DIR "/%1.png").arg(QString::fromUtf8(name));
  EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
}

}  // namespace twtest
