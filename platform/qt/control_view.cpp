#include "platform/qt/control_view.h"

#include <QSignalBlocker>

#include <strings.h>

#include "platform/qt/control_kinds.h"

namespace twqt {

void ControlView::Show(const twplat::WindowState& state) {
  state_ = state;
  Revert();
}

void ControlView::Revert() {
  if (widget_ == nullptr) {
    return;
  }
  QSignalBlocker quiet(widget_);
  widget_->setEnabled(state_.enabled);
  ShowState(state_);
  widget_->setVisible(state_.visible);
}

std::unique_ptr<ControlView> MakeControlView(const twplat::WindowDescription& control,
                                             const twplat::WindowState& state,
                                             const DialogUnits& units, QWidget* dialog) {
  using Maker =
      std::unique_ptr<ControlView> (*)(const twplat::WindowDescription&, const QRect&, QWidget*);
  struct ClassView {
    const char* className;
    Maker make;
  };
  static constexpr ClassView kViews[] = {
      {"BUTTON", MakeButtonView},
      {"EDIT", MakeEditView},
      {"COMBOBOX", MakeComboView},
      {"STATIC", MakeStaticView},
      {"msctls_progress32", MakeProgressView},
      {"msctls_trackbar32", MakeSliderView},
  };
  QRect place = units.ToPixels(control.x, control.y, control.cx, control.cy);
  for (const ClassView& entry : kViews) {
    if (strcasecmp(entry.className, control.className.c_str()) == 0) {
      std::unique_ptr<ControlView> view = entry.make(control, place, dialog);
      view->widget()->setObjectName(QStringLiteral("control-%1").arg(control.id));
      view->Show(state);
      return view;
    }
  }
  return nullptr;
}

}  // namespace twqt
