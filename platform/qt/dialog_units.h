// Dialog units and the dialog font. A dialog template measures in dialog
// units: a quarter of the font's average character width horizontally, an
// eighth of its height vertically. The Windows dialog manager takes the
// average width from the letters A-Z and a-z; so do we, with the same
// rounding, so a dialog keeps its template's proportions in any font.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

#include "platform/win32/resources.h"

namespace twqt {

class DialogUnits {
 public:
  DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}
  // Base units of a font: the width of "A..Za..z" / 52, rounded, and the
  // font's height (ascent plus descent).
  static DialogUnits OfFont(const QFont& font);

  int baseX() const { return baseX_; }
  int baseY() const { return baseY_; }

  int ToPixelsX(int x) const;
  int ToPixelsY(int y) const;
  QPoint ToPixels(int x, int y) const { return {ToPixelsX(x), ToPixelsY(y)}; }
  // Each edge is converted on its own, as MapDialogRect does, so controls
  // that touch in the template touch on screen.
  QRect ToPixels(int x, int y, int cx, int cy) const;
  QSize SizeToPixels(int cx, int cy) const { return {ToPixelsX(cx), ToPixelsY(cy)}; }

 private:
  int baseX_;
  int baseY_;
};

// The width in pixels a control's text needs in this font, or 0 when the
// control has no text that must show whole (no text, an icon, a text cut
// with an ellipsis by design). Qt's current style decides the room a radio
// button's indicator takes.
int NeededTextWidth(const twplat::ControlTemplate& control, const QFont& font);

// True when every text of the template fits its control in this font.
bool TemplateTextsFit(const twplat::DialogTemplate& dialog, const QFont& font);

// The font a dialog is drawn in. The template names a Windows face ("MS
// Shell Dlg", "System"); it becomes the desktop's default sans-serif font at
// the template's point size. When a text of the template does not fit its
// control, a size up to two points smaller is tried in half points: text
// widths and base units do not grow in step, since base units are whole
// pixels. When none fits, the template's size stays, and the controls that
// would cut their text grow instead (control views).
QFont DialogFontFor(const twplat::DialogTemplate& dialog);

}  // namespace twqt
