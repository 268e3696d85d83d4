// The dialogs keep their templates' layout on the desktop: every control at
// its place in dialog units, inside the window, no text cut.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <strings.h>

#include "platform/qt/dialog_units.h"
#include "platform/win32/resources.h"
#include "tests/qt/desktop_fixture.h"

namespace twtest {
namespace {

// The room the widget's style leaves for a button's text.
int TextRoom(QAbstractButton* button, QStyle::SubElement contents) {
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  return button->style()->subElementRect(contents, &option, button).width();
}

// Whether the widget shows its whole text.
bool ShowsWholeText(QWidget* widget) {
  if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
    return radio->fontMetrics().horizontalAdvance(radio->text()) <=
           TextRoom(radio, QStyle::SE_RadioButtonContents);
  }
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    return button->fontMetrics().horizontalAdvance(button->text()) <=
           TextRoom(button, QStyle::SE_PushButtonContents);
  }
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    QRect room = label->contentsRect().adjusted(label->margin(), 0, -label->margin(), 0);
    return label->fontMetrics().horizontalAdvance(label->text()) <= room.width();
  }
  return true;
}

class LayoutTest : public DesktopTest {
 protected:
  // The widget showing a template's control: by identifier, or for a label
  // without one by its text.
  static QWidget* WidgetFor(QWidget* dialog, const twplat::ControlTemplate& control) {
    if (control.id != -1) {
      return dialog->findChild<QWidget*>(QStringLiteral("control-%1").arg(control.id));
    }
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      bool isIcon = control.text == nullptr;
      if (isIcon ? !label->pixmap().isNull() : label->text() == QString::fromUtf8(control.text)) {
        return label;
      }
    }
    return nullptr;
  }

  // Every text that must show whole fits its widget in the widget's font,
  // and every control stands where the template puts it.
  static void ExpectTemplateLayout(twqt::DialogView* dialog, WORD templateId) {
    const twplat::DialogTemplate* found = twplat::FindDialogTemplate(templateId);
    ASSERT_NE(found, nullptr);
    const twqt::DialogUnits& units = dialog->units();
    EXPECT_EQ(dialog->size(), units.SizeToPixels(found->cx, found->cy));
    for (const twplat::ControlTemplate& control : found->controls) {
      SCOPED_TRACE(control.text != nullptr ? control.text : control.className);
      QWidget* widget = WidgetFor(dialog, control);
      ASSERT_NE(widget, nullptr);
      QRect expected = units.ToPixels(control.x, control.y, control.cx, control.cy);
      EXPECT_EQ(widget->pos(), expected.topLeft());
      if (strcasecmp(control.className, "COMBOBOX") != 0 &&
          (control.style & SS_TYPEMASK) != SS_ICON) {
        EXPECT_EQ(widget->size(), expected.size());
      }
      EXPECT_TRUE(dialog->rect().contains(widget->geometry())) << "inside the window";
      if ((control.style & SS_ENDELLIPSIS) == 0) {
        EXPECT_TRUE(ShowsWholeText(widget)) << "text cut";
      }
    }
  }
};

TEST_F(LayoutTest, MainWindowKeepsItsTemplate) {
  session_.Then([this] {
    ExpectTemplateLayout(MainWidget(), IDD_MAIN);
    // The closed device list is as tall as a field, not as its dropped list.
    auto* combo = Widget<QComboBox>(IDC_DEVICE_LIST);
    EXPECT_LT(combo->height(), MainWidget()->units().ToPixelsY(20));
  });
  session_.Run();
}

TEST_F(LayoutTest, AboutBoxKeepsItsTemplate) {
  session_.Then([this] { ClickWidget(IDC_ABOUT); })
      .Await(
          "the About box", [this] { return VisibleDialog(IDD_ABOUT) != nullptr; },
          [this] { ExpectTemplateLayout(VisibleDialog(IDD_ABOUT), IDD_ABOUT); });
  session_.Run();
}

}  // namespace
}  // namespace twtest
