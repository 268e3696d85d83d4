// Static controls: labels and the icon.
#include <QLabel>

#include <algorithm>

#include "platform/qt/control_kinds.h"
#include "platform/qt/ellipsis_label.h"
#include "platform/qt/icons.h"

namespace twqt {
namespace {

// The size Windows shows an icon at when a static control takes the icon's
// real size.
constexpr int kRealIconSize = 32;

// A label whose text must show whole grows to the right when its template
// width is too small for the text in the dialog's font.
class LabelView : public ControlView {
 public:
  LabelView(HWND window, QLabel* label, bool growsForText)
      : ControlView(window, label),
        label_(label),
        templateWidth_(label->width()),
        growsForText_(growsForText) {}

 protected:
  void ShowState(const twplat::WindowState& state) override {
    label_->setText(QString::fromUtf8(state.text));
    if (growsForText_) {
      int frame = label_->width() - label_->contentsRect().width() + 2 * label_->margin();
      int needed = label_->fontMetrics().horizontalAdvance(label_->text()) + frame;
      label_->resize(std::max(templateWidth_, needed), label_->height());
    }
  }

 private:
  QLabel* label_;
  int templateWidth_;
  bool growsForText_;
};

class IconView : public ControlView {
 public:
  IconView(HWND window, QLabel* label) : ControlView(window, label), label_(label) {}

 protected:
  void ShowState(const twplat::WindowState& state) override {
    label_->setPixmap(IconPixmap(state.icon, kRealIconSize));
  }

 private:
  QLabel* label_;
};

QLabel* MakeLabel(DWORD style, QWidget* dialog) {
  QLabel* label = (style & SS_ENDELLIPSIS) != 0 ? new EllipsisLabel(dialog) : new QLabel(dialog);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(false);
  const bool bordered = (style & WS_BORDER) != 0;
  Qt::Alignment across = (style & SS_TYPEMASK) == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft;
  label->setAlignment(across | (bordered ? Qt::AlignVCenter : Qt::AlignTop));
  if (bordered) {
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setLineWidth(1);
    label->setMargin(1);
  }
  return label;
}

}  // namespace

std::unique_ptr<ControlView> MakeStaticView(const twplat::WindowDescription& control,
                                            const QRect& place, QWidget* dialog) {
  if ((control.style & SS_TYPEMASK) == SS_ICON) {
    auto* icon = new QLabel(dialog);
    icon->setGeometry(QRect(place.topLeft(), QSize(kRealIconSize, kRealIconSize)));
    return std::make_unique<IconView>(control.handle, icon);
  }
  QLabel* label = MakeLabel(control.style, dialog);
  label->setGeometry(place);
  const bool cutsWithEllipsis = (control.style & SS_ENDELLIPSIS) != 0;
  return std::make_unique<LabelView>(control.handle, label, !cutsWithEllipsis);
}

}  // namespace twqt
