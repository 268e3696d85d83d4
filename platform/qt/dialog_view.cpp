#include "platform/qt/dialog_view.h"

#include <QCloseEvent>
#include <QKeyEvent>

#include "platform/qt/icons.h"
#include "platform/win32/input.h"
#include "platform/win32/resources.h"

namespace twqt {
namespace {

QFont FontOf(const twplat::WindowDescription& dialog) {
  const twplat::DialogTemplate* found = twplat::FindDialogTemplate(dialog.templateId);
  return found != nullptr ? DialogFontFor(*found) : QFont();
}

Qt::WindowFlags FlagsOf(const twplat::WindowDescription& dialog, bool owned) {
  Qt::WindowFlags flags = owned ? Qt::Dialog : Qt::Window;
  flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if ((dialog.style & WS_SYSMENU) != 0) {
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  }
  if ((dialog.style & WS_MINIMIZEBOX) != 0) {
    flags |= Qt::WindowMinimizeButtonHint;
  }
  return flags;
}

// The virtual key of a dialog key, or 0.
int DialogKeyOf(const QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    default:
      return 0;
  }
}

}  // namespace

DialogView::DialogView(const twplat::WindowDescription& dialog, QWidget* owner)
    : DialogView(dialog, owner, FontOf(dialog)) {}

DialogView::DialogView(const twplat::WindowDescription& dialog, QWidget* owner, const QFont& font)
    : QWidget(owner, FlagsOf(dialog, owner != nullptr)),
      handle_(dialog.handle),
      templatePosition_(dialog.x, dialog.y),
      units_(DialogUnits::OfFont(font)) {
  setFont(font);
  setObjectName(QStringLiteral("dialog-%1").arg(dialog.templateId));
  setFixedSize(units_.SizeToPixels(dialog.cx, dialog.cy));
  if (owner != nullptr) {
    setWindowModality(Qt::WindowModal);
  }
  installEventFilter(this);
}

void DialogView::ShowState(const twplat::WindowState& state) {
  setWindowTitle(QString::fromUtf8(state.text));
  QIcon icon = IconFor(state.icon != nullptr ? state.icon : state.smallIcon);
  if (!icon.isNull()) {
    setWindowIcon(icon);
  }
  if (state.visible && !isVisible()) {
    PlaceOnFirstShow();
    keyboard_.NameFieldsFromLabels();
    keyboard_.UpdateTabStops();
    show();
    activateWindow();
  } else if (!state.visible && isVisible()) {
    hide();
  }
}

void DialogView::AdoptControl(QWidget* control, const twplat::WindowDescription& description) {
  keyboard_.Add(control, description.handle, description.style);
  control->installEventFilter(this);
  for (QWidget* inner : control->findChildren<QWidget*>()) {
    inner->installEventFilter(this);
  }
}

// A window without owner opens at its position on the screen; an owned one
// at its position from the owner's client area, both in its own dialog units.
void DialogView::PlaceOnFirstShow() {
  if (placed_) {
    return;
  }
  placed_ = true;
  QPoint offset = units_.ToPixels(templatePosition_.x(), templatePosition_.y());
  QWidget* owner = parentWidget();
  move(owner != nullptr ? owner->mapToGlobal(QPoint(0, 0)) + offset : offset);
}

void DialogView::closeEvent(QCloseEvent* event) {
  event->ignore();
  twplat::CloseWindow(handle_);
}

bool DialogView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto& press = *static_cast<QKeyEvent*>(event);
    int key = DialogKeyOf(press);
    if (key != 0) {
      twplat::PressKey(handle_, key);
      return true;
    }
    if (press.key() == Qt::Key_Tab || press.key() == Qt::Key_Backtab) {
      keyboard_.UpdateTabStops();
    } else if (keyboard_.MoveInRadioGroup(watched, press.key())) {
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace twqt
