// What a keyboard or screen-reader user needs of a dialog beyond Qt's own
// widgets, on Qt's thread.
//
// Radio groups: automatic radio buttons that follow one another in template
// order form a group (a WS_GROUP button starts a new one). Tab reaches the
// group once, at its checked button (the first one while none is checked);
// the arrow keys move within it, wrapping round, and check the button they
// reach, as the window system's dialogs do.
//
// Labels: a field (edit, combo box, slider, progress bar) takes as its
// accessible name the text of the label on its row to its left, nearest the
// row's start; a radio group takes it as its buttons' description. The label
// becomes the field's buddy.
#pragma once

#include <windows.h>

#include <QAbstractButton>
#include <QLabel>
#include <QPointer>

#include <vector>

namespace twqt {

class KeyboardAccess {
 public:
  // Every control of the dialog, in template order.
  void Add(QWidget* control, HWND handle, DWORD style);
  // Gives the buttons of each radio group their Tab stop; before every Tab.
  void UpdateTabStops();
  // Moves within the radio group of `watched` for an arrow key; false when
  // the key is not for a radio group.
  bool MoveInRadioGroup(QObject* watched, int key);
  // Names the fields after their labels; once every control is made.
  void NameFieldsFromLabels();

 private:
  struct RadioButton {
    QPointer<QAbstractButton> button;
    HWND handle;
  };
  using RadioGroup = std::vector<RadioButton>;

  std::vector<RadioGroup> groups_;
  bool groupOpen_ = false;
  std::vector<QPointer<QLabel>> labels_;
  std::vector<QPointer<QWidget>> fields_;
};

}  // namespace twqt
