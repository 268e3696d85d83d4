#include "platform/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QRadioButton>

#include <cstring>

namespace twqt {
namespace {

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr double kLargestShrinkPoints = 2.0;
// A push button's frame and the least space beside its text.
constexpr int kButtonTextMargin = 8;

// MulDiv for the non-negative values of a template: rounds half up.
int ScaleRounded(int value, int numerator, int denominator) {
  long long scaled = static_cast<long long>(value) * numerator;
  long long half = denominator / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / denominator
                                      : -((-scaled + half) / denominator));
}

bool IsClass(const twplat::ControlTemplate& control, const char* name) {
  return strcasecmp(control.className, name) == 0;
}

int RadioButtonWidth(const QString& text, const QFont& font) {
  QRadioButton probe(text);
  probe.setFont(font);
  return probe.sizeHint().width();
}

int StaticTextWidth(const twplat::ControlTemplate& control, const QString& text,
                    const QFontMetrics& metrics) {
  DWORD style = control.style;
  if ((style & SS_TYPEMASK) == SS_ICON || (style & SS_ENDELLIPSIS) != 0) {
    return 0;
  }
  int border = (style & WS_BORDER) != 0 ? 2 : 0;
  return metrics.horizontalAdvance(text) + border;
}

}  // namespace

DialogUnits DialogUnits::OfFont(const QFont& font) {
  QFontMetrics metrics(font);
  int alphabetWidth = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
  return DialogUnits((alphabetWidth / 26 + 1) / 2, metrics.height());
}

int DialogUnits::ToPixelsX(int x) const { return ScaleRounded(x, baseX_, 4); }

int DialogUnits::ToPixelsY(int y) const { return ScaleRounded(y, baseY_, 8); }

QRect DialogUnits::ToPixels(int x, int y, int cx, int cy) const {
  QPoint topLeft = ToPixels(x, y);
  QPoint bottomRight = ToPixels(x + cx, y + cy);
  return QRect(topLeft, QSize(bottomRight.x() - topLeft.x(), bottomRight.y() - topLeft.y()));
}

int NeededTextWidth(const twplat::ControlTemplate& control, const QFont& font) {
  if (control.text == nullptr || control.text[0] == '\0') {
    return 0;
  }
  QString text = QString::fromUtf8(control.text);
  QFontMetrics metrics(font);
  if (IsClass(control, "STATIC")) {
    return StaticTextWidth(control, text, metrics);
  }
  if (IsClass(control, "BUTTON")) {
    if ((control.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) {
      return RadioButtonWidth(text, font);
    }
    return metrics.horizontalAdvance(text) + kButtonTextMargin;
  }
  return 0;
}

bool TemplateTextsFit(const twplat::DialogTemplate& dialog, const QFont& font) {
  DialogUnits units = DialogUnits::OfFont(font);
  for (const twplat::ControlTemplate& control : dialog.controls) {
    if (NeededTextWidth(control, font) > units.ToPixels(control.x, 0, control.cx, 0).width()) {
      return false;
    }
  }
  return true;
}

QFont DialogFontFor(const twplat::DialogTemplate& dialog) {
  QFont font(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
  font.setWeight(dialog.font.weight >= 600 ? QFont::Bold : QFont::Normal);
  font.setItalic(dialog.font.italic);
  const double templatePoints = dialog.font.pointSize > 0 ? dialog.font.pointSize : 8.0;
  for (double points = templatePoints; points >= templatePoints - kLargestShrinkPoints;
       points -= 0.5) {
    font.setPointSizeF(points);
    if (TemplateTextsFit(dialog, font)) {
      return font;
    }
  }
  font.setPointSizeF(templatePoints);
  return font;
}

}  // namespace twqt
