#include "platform/qt/window_views.h"

namespace twqt {

// Windows still shown when the host goes: Qt's widgets go with them.
WindowViews::~WindowViews() {
  controls_.clear();
  for (auto& [handle, dialog] : dialogs_) {
    delete dialog.data();
  }
}

void WindowViews::Created(const twplat::WindowDescription& window,
                          const twplat::WindowState& state) {
  if (window.className == "#32770") {
    CreateDialog(window, state);
  } else {
    CreateControl(window, state);
  }
}

void WindowViews::CreateDialog(const twplat::WindowDescription& dialog,
                               const twplat::WindowState& state) {
  auto* view = new DialogView(dialog, TopLevelOf(dialog.parent));
  dialogs_[dialog.handle] = view;
  view->ShowState(state);
}

void WindowViews::CreateControl(const twplat::WindowDescription& control,
                                const twplat::WindowState& state) {
  auto dialog = dialogs_.find(control.parent);
  if (dialog == dialogs_.end() || dialog->second == nullptr) {
    return;
  }
  DialogView* parent = dialog->second;
  std::unique_ptr<ControlView> view = MakeControlView(control, state, parent->units(), parent);
  if (view != nullptr) {
    parent->AdoptControl(view->widget(), control);
    controls_[control.handle] = std::move(view);
  }
}

void WindowViews::Changed(HWND window, twplat::WindowChange what,
                          const twplat::WindowState& state) {
  auto control = controls_.find(window);
  if (control != controls_.end()) {
    control->second->Show(state);
    return;
  }
  auto dialog = dialogs_.find(window);
  if (dialog == dialogs_.end() || dialog->second == nullptr) {
    return;
  }
  if (what == twplat::WindowChange::kFocus) {
    ShowFocus(state);
  } else {
    dialog->second->ShowState(state);
  }
}

void WindowViews::ShowFocus(const twplat::WindowState& state) {
  QWidget* focus = WidgetOf(state.focus);
  if (focus != nullptr) {
    focus->setFocus(Qt::OtherFocusReason);
  }
}

// A dialog's widgets go with its top-level window; Qt deletes them once the
// event loop is back, never inside a signal of one of them.
void WindowViews::Destroyed(HWND window) {
  auto control = controls_.find(window);
  if (control != controls_.end()) {
    QWidget* widget = control->second->widget();
    controls_.erase(control);
    if (widget != nullptr) {
      widget->hide();
      widget->deleteLater();
    }
    return;
  }
  auto dialog = dialogs_.find(window);
  if (dialog != dialogs_.end()) {
    if (dialog->second != nullptr) {
      dialog->second->hide();
      dialog->second->deleteLater();
    }
    dialogs_.erase(dialog);
  }
}

QWidget* WindowViews::WidgetOf(HWND window) const {
  auto control = controls_.find(window);
  if (control != controls_.end()) {
    return control->second->widget();
  }
  auto dialog = dialogs_.find(window);
  return dialog != dialogs_.end() ? dialog->second.data() : nullptr;
}

QWidget* WindowViews::TopLevelOf(HWND window) const {
  QWidget* widget = WidgetOf(window);
  return widget != nullptr ? widget->window() : nullptr;
}

}  // namespace twqt
