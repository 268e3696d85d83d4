// Dialog units and the dialog font.
#include <gtest/gtest.h>

#include <QFontMetrics>

#include "platform/qt/dialog_units.h"
#include "platform/win32/resources.h"
#include "res/resource.h"

namespace twqt {
namespace {

// Base units 6 x 13 are those of the classic 8-point dialog font: the main
// window's 322 x 239 units are 483 x 388 pixels there.
TEST(DialogUnitsTest, ConvertsAsTheWindowsDialogManager) {
  DialogUnits classic(6, 13);
  EXPECT_EQ(classic.SizeToPixels(322, 239), QSize(483, 388));
  EXPECT_EQ(classic.ToPixels(22, 17), QPoint(33, 28));  // 27.625 rounds up
}

// Edges are rounded one by one, as MapDialogRect does: two controls that
// touch in the template touch on screen, and a width can differ from the
// width converted alone.
TEST(DialogUnitsTest, RoundsEachEdgeOnItsOwn) {
  DialogUnits units(7, 13);
  QRect start = units.ToPixels(41, 207, 50, 14);
  EXPECT_EQ(start.left(), 72);                   // 71.75
  EXPECT_EQ(start.left() + start.width(), 159);  // 91 units: 159.25
  EXPECT_EQ(start.width(), 87);                  // not 50 units alone: 87.5 -> 88
  QRect next = units.ToPixels(91, 207, 12, 14);
  EXPECT_EQ(next.left(), start.left() + start.width());
}

TEST(DialogUnitsTest, BaseUnitsComeFromTheAlphabetAndTheHeight) {
  QFont font;
  font.setPointSize(8);
  QFontMetrics metrics(font);
  DialogUnits units = DialogUnits::OfFont(font);
  double average = metrics.horizontalAdvance(
                       QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                   52.0;
  EXPECT_LE(std::abs(units.baseX() - average), 0.5);
  EXPECT_EQ(units.baseY(), metrics.height());
}

TEST(DialogFontTest, EveryTemplateTextFits) {
  for (WORD id : {WORD{IDD_MAIN}, WORD{IDD_ABOUT}}) {
    const twplat::DialogTemplate* dialog = twplat::FindDialogTemplate(id);
    ASSERT_NE(dialog, nullptr);
    QFont font = DialogFontFor(*dialog);
    EXPECT_TRUE(TemplateTextsFit(*dialog, font)) << id;
    EXPECT_LE(font.pointSizeF(), dialog->font.pointSize);
  }
}

twplat::DialogTemplate OneLabel(const twplat::ControlTemplate (&label)[1]) {
  return {1, "Label", WS_CAPTION, 0, 0, 0, 240, 40, {"MS Shell Dlg", 8, 400, false, 1}, label};
}

TEST(DialogFontTest, RoomyTextsKeepTheTemplatesSize) {
  const twplat::ControlTemplate label[] = {
      {-1, "STATIC", "Audio device", 0, 10, 10, 200, 8, WS_CHILD | SS_LEFT, 0, 0}};
  EXPECT_EQ(DialogFontFor(OneLabel(label)).pointSizeF(), 8.0);
}

// No size makes this text fit: the font stays readable, and the label grows.
TEST(DialogFontTest, ATextNoSizeFitsKeepsTheTemplatesSize) {
  const twplat::ControlTemplate label[] = {
      {-1, "STATIC", "Audio device", 0, 10, 10, 6, 8, WS_CHILD | SS_LEFT, 0, 0}};
  EXPECT_EQ(DialogFontFor(OneLabel(label)).pointSizeF(), 8.0);
}

}  // namespace
}  // namespace twqt
