// Push buttons and automatic radio buttons.
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

#include "platform/qt/control_kinds.h"
#include "platform/win32/input.h"

namespace twqt {
namespace {

// A control with WS_TABSTOP is reached with Tab; one without only by a click.
Qt::FocusPolicy FocusPolicyOf(DWORD style) {
  return (style & WS_TABSTOP) != 0 ? Qt::StrongFocus : Qt::ClickFocus;
}

class PushButtonView : public ControlView {
 public:
  PushButtonView(HWND window, QPushButton* button) : ControlView(window, button), button_(button) {
    // Enter belongs to the dialog (its default button), never to the focused
    // button.
    button_->setAutoDefault(false);
    QObject::connect(button_, &QPushButton::clicked, context(),
                     [this] { twplat::ClickButton(handle()); });
  }

 protected:
  void ShowState(const twplat::WindowState& state) override {
    button_->setText(QString::fromUtf8(state.text));
  }

 private:
  QPushButton* button_;
};

// An automatic radio button whose check only the window system moves: a
// click or Space reports the click and leaves the check alone. Qt calls it a
// radio button for assistive technology only while it is auto-exclusive.
class WindowRadioButton : public QRadioButton {
 public:
  explicit WindowRadioButton(QWidget* parent) : QRadioButton(parent) { setAutoExclusive(true); }

  // Shows the window system's check as it is, even none or several checked
  // in a group, which Qt's exclusive buttons would refuse or undo.
  void ShowCheck(bool checked) {
    setAutoExclusive(false);
    setChecked(checked);
    setAutoExclusive(true);
  }

 protected:
  void nextCheckState() override {}
};

// A text too long for the template's width makes the button grow to the
// right.
class RadioButtonView : public ControlView {
 public:
  RadioButtonView(HWND window, WindowRadioButton* button)
      : ControlView(window, button), button_(button), templateWidth_(button->width()) {
    QObject::connect(button_, &QRadioButton::clicked, context(),
                     [this] { twplat::ClickButton(handle()); });
  }

 protected:
  void ShowState(const twplat::WindowState& state) override {
    button_->setText(QString::fromUtf8(state.text));
    button_->ShowCheck(state.check == BST_CHECKED);
    button_->resize(std::max(templateWidth_, button_->sizeHint().width()), button_->height());
  }

 private:
  WindowRadioButton* button_;
  int templateWidth_;
};

}  // namespace

std::unique_ptr<ControlView> MakeButtonView(const twplat::WindowDescription& control,
                                            const QRect& place, QWidget* dialog) {
  DWORD type = control.style & BS_TYPEMASK;
  if (type == BS_AUTORADIOBUTTON) {
    auto* button = new WindowRadioButton(dialog);
    button->setGeometry(place);
    button->setFocusPolicy(FocusPolicyOf(control.style));
    return std::make_unique<RadioButtonView>(control.handle, button);
  }
  auto* button = new QPushButton(dialog);
  button->setGeometry(place);
  button->setFocusPolicy(FocusPolicyOf(control.style));
  button->setDefault(type == BS_DEFPUSHBUTTON);
  return std::make_unique<PushButtonView>(control.handle, button);
}

}  // namespace twqt
