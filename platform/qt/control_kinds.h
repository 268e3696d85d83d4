// The views of each control class (control_view.h). Each makes its widget
// as a child of the dialog's widget, at the place given in pixels.
#pragma once

#include <memory>

#include "platform/qt/control_view.h"

namespace twqt {

// BUTTON: push buttons (BS_DEFPUSHBUTTON drawn as the default one) and
// automatic radio buttons.
std::unique_ptr<ControlView> MakeButtonView(const twplat::WindowDescription& control,
                                            const QRect& place, QWidget* dialog);
// EDIT: a single-line field; ES_NUMBER takes digits only.
std::unique_ptr<ControlView> MakeEditView(const twplat::WindowDescription& control,
                                          const QRect& place, QWidget* dialog);
// COMBOBOX: an editable drop-down list in the window system's order. The
// template's height includes the dropped-down list; the closed box is as
// tall as Qt's combo box needs.
std::unique_ptr<ControlView> MakeComboView(const twplat::WindowDescription& control,
                                           const QRect& place, QWidget* dialog);
// STATIC: a label (SS_LEFT, SS_CENTER; WS_BORDER a plain box; SS_ENDELLIPSIS
// cuts a long text at its end with "...") or an icon (SS_ICON) at its real
// size.
std::unique_ptr<ControlView> MakeStaticView(const twplat::WindowDescription& control,
                                            const QRect& place, QWidget* dialog);
// msctls_progress32: a bar without text.
std::unique_ptr<ControlView> MakeProgressView(const twplat::WindowDescription& control,
                                              const QRect& place, QWidget* dialog);
// msctls_trackbar32: a horizontal slider without ticks; every step the user
// makes is a move for the window system.
std::unique_ptr<ControlView> MakeSliderView(const twplat::WindowDescription& control,
                                            const QRect& place, QWidget* dialog);

}  // namespace twqt
