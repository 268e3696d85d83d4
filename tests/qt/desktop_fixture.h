// A test of the desktop window: a DesktopSession, and what a test reads and
// does on the real widgets while the program runs.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <string>

#include "platform/qt/dialog_view.h"
#include "res/resource.h"
#include "tests/qt/desktop_session.h"

namespace twtest {

// The message box on screen, or null.
QMessageBox* VisibleMessageBox();

class DesktopTest : public ::testing::Test {
 protected:
  // Every script starts once the main window is on screen.
  void SetUp() override;

  HWND Main() const;
  // The main window's top-level widget, or null before it shows.
  twqt::DialogView* MainWidget();
  bool MainShown();
  // The widget of a control of the main window, or null.
  template <class W>
  W* Widget(int id) {
    return qobject_cast<W*>(session_.host().WidgetOf(GetDlgItem(Main(), id)));
  }
  // A visible dialog made from a template, or null.
  twqt::DialogView* VisibleDialog(int templateId);
  static QMessageBox* VisibleBox() { return VisibleMessageBox(); }

  // The status line as the window shows it.
  QString Status();
  bool StatusIs(const char* text) { return Status() == QString::fromUtf8(text); }
  // The enabled state of a control's widget.
  bool Enabled(int id);
  bool ShowsIdleLook();
  bool ShowsRunningLook();
  // The text the window system holds for a control of the main window.
  std::string SystemText(int id) const;

  // Replaces a field's text as a user does: everything selected, then the
  // new text typed, key by key.
  static void TypeOver(QLineEdit* field, const QString& text);
  void ClickWidget(int id);
  // The role button clicked, then its status line awaited.
  void ChooseServer();
  void ChooseClient();
  // Server role, port typed, Start clicked, listening.
  void StartServer(int port);

  // Saves a window's picture as NAME.png in the build folder's screenshots.
  static void SaveScreenshot(QWidget* window, const char* name);

  DesktopSession session_;
};

}  // namespace twtest
