// The About box on the desktop: opened by "About" over the main window,
// modal to it, closed by OK, Enter, Escape and its close box.
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "tests/qt/desktop_fixture.h"

namespace twtest {
namespace {

class AboutBoxTest : public DesktopTest {
 protected:
  twqt::DialogView* About() { return VisibleDialog(IDD_ABOUT); }

  void OpenAbout() {
    session_.Then([this] { ClickWidget(IDC_ABOUT); }).Await("the About box", [this] {
      return About() != nullptr;
    });
  }
  void AwaitClosed(const char* how) {
    session_.Await(std::string("the About box closed by ") + how,
                   [this] { return About() == nullptr && IsWindowEnabled(Main()); });
  }
};

TEST_F(AboutBoxTest, ShowsNameAuthorAndIconOverTheMainWindow) {
  OpenAbout();
  session_.Then([this] {
    twqt::DialogView* about = About();
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(about->windowModality(), Qt::WindowModal);
    EXPECT_EQ(about->parentWidget(), MainWidget());
    EXPECT_FALSE(IsWindowEnabled(Main()));
    EXPECT_FALSE(about->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(about->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    const QPoint offset = about->units().ToPixels(22, 17);
    EXPECT_EQ(about->pos(), MainWidget()->mapToGlobal(QPoint(0, 0)) + offset);
    EXPECT_EQ(about->size(), about->units().SizeToPixels(230, 75));

    QStringList texts;
    const QLabel* icon = nullptr;
    for (const QLabel* label : about->findChildren<QLabel*>()) {
      if (!label->pixmap().isNull()) {
        icon = label;
      } else {
        texts.append(label->text());
      }
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("Tonewire")));
    EXPECT_EQ(texts.size(), 2) << "the name and the author line";
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
    auto* ok = about->findChild<QPushButton*>(QStringLiteral("control-%1").arg(IDOK));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(ok->isDefault());
    SaveScreenshot(about, "about-box");
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  AwaitClosed("OK");
  session_.Run();
}

// The window system destroys the box; its widgets go too, every time.
TEST_F(AboutBoxTest, AClosedBoxLeavesNoWidgetsBehind) {
  QPointer<twqt::DialogView> closed;
  OpenAbout();
  session_.Then([this, &closed] {
    closed = About();
    QTest::keyClick(About(), Qt::Key_Escape);
  });
  AwaitClosed("Escape");
  session_.Await("its widgets deleted", [&closed] { return closed.isNull(); });
  session_.Run();
}

TEST_F(AboutBoxTest, ClosesWithEnterEscapeAndItsCloseBox) {
  OpenAbout();
  session_.Then([this] { QTest::keyClick(About(), Qt::Key_Return); });
  AwaitClosed("Enter");
  OpenAbout();
  session_.Then([this] { QTest::keyClick(About(), Qt::Key_Escape); });
  AwaitClosed("Escape");
  OpenAbout();
  session_.Then([this] { About()->close(); });
  AwaitClosed("its close box");
  session_.Await("the main window still open", [this] { return MainWidget()->isVisible(); });
  session_.Run();
}

}  // namespace
}  // namespace twtest
