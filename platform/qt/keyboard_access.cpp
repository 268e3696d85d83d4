#include "platform/qt/keyboard_access.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSlider>

#include "platform/win32/input.h"

namespace twqt {
namespace {

bool IsField(QWidget* control) {
  return qobject_cast<QLineEdit*>(control) != nullptr ||
         qobject_cast<QComboBox*>(control) != nullptr ||
         qobject_cast<QSlider*>(control) != nullptr ||
         qobject_cast<QProgressBar*>(control) != nullptr ||
         qobject_cast<QRadioButton*>(control) != nullptr;
}

// A label that names something: text, not an icon or an empty box.
bool IsNamingLabel(QLabel* label) {
  return label != nullptr && label->pixmap().isNull() && !label->text().trimmed().isEmpty();
}

bool CanTakeFocus(QWidget* widget) {
  return widget != nullptr && widget->isEnabled() && widget->isVisibleTo(widget->window());
}

// The label beside `field`: on its row (the label's middle within the
// field's height), ending left of it, with no other field between them; of
// several, the one nearest the row's start ("Volume" rather than the "-"
// at the slider's end).
QLabel* LabelOf(QWidget* field, const std::vector<QPointer<QLabel>>& labels,
                const std::vector<QPointer<QWidget>>& fields) {
  const QRect place = field->geometry();
  auto beside = [&place](const QRect& other) {
    const int middle = other.center().y();
    return middle >= place.top() && middle <= place.bottom() && other.right() < place.left();
  };
  QLabel* found = nullptr;
  for (const QPointer<QLabel>& label : labels) {
    if (label == nullptr || !beside(label->geometry())) {
      continue;
    }
    bool blocked = false;
    for (const QPointer<QWidget>& other : fields) {
      blocked = blocked || (other != nullptr && other != field && beside(other->geometry()) &&
                            other->geometry().left() > label->geometry().right());
    }
    if (!blocked && (found == nullptr || label->x() < found->x())) {
      found = label;
    }
  }
  return found;
}

}  // namespace

void KeyboardAccess::Add(QWidget* control, HWND handle, DWORD style) {
  auto* radio = qobject_cast<QRadioButton*>(control);
  if (radio != nullptr) {
    if (!groupOpen_ || (style & WS_GROUP) != 0) {
      groups_.emplace_back();
      groupOpen_ = true;
    }
    groups_.back().push_back({radio, handle});
  } else {
    groupOpen_ = false;
  }
  if (auto* label = qobject_cast<QLabel*>(control); label != nullptr) {
    labels_.push_back(label);
  } else if (IsField(control)) {
    fields_.push_back(control);
  }
}

void KeyboardAccess::UpdateTabStops() {
  for (const RadioGroup& group : groups_) {
    QAbstractButton* stop = nullptr;
    for (const RadioButton& member : group) {
      if (member.button != nullptr && (stop == nullptr || member.button->isChecked())) {
        stop = member.button;
        if (stop->isChecked()) {
          break;
        }
      }
    }
    for (const RadioButton& member : group) {
      if (member.button != nullptr) {
        member.button->setFocusPolicy(member.button == stop ? Qt::StrongFocus : Qt::ClickFocus);
      }
    }
  }
}

bool KeyboardAccess::MoveInRadioGroup(QObject* watched, int key) {
  const bool forward = key == Qt::Key_Right || key == Qt::Key_Down;
  if (!forward && key != Qt::Key_Left && key != Qt::Key_Up) {
    return false;
  }
  for (const RadioGroup& group : groups_) {
    const int count = static_cast<int>(group.size());
    for (int index = 0; index < count; ++index) {
      if (group[index].button != watched) {
        continue;
      }
      for (int step = 1; step < count; ++step) {
        const RadioButton& next = group[(index + (forward ? step : count - step)) % count];
        if (CanTakeFocus(next.button)) {
          next.button->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
          twplat::ClickButton(next.handle);
          break;
        }
      }
      return true;
    }
  }
  return false;
}

void KeyboardAccess::NameFieldsFromLabels() {
  std::vector<QPointer<QLabel>> naming;
  for (const QPointer<QLabel>& label : labels_) {
    if (IsNamingLabel(label)) {
      naming.push_back(label);
    }
  }
  for (const QPointer<QWidget>& field : fields_) {
    QLabel* label = field != nullptr ? LabelOf(field, naming, fields_) : nullptr;
    if (label == nullptr) {
      continue;
    }
    label->setBuddy(field);
    if (qobject_cast<QRadioButton*>(field.data()) != nullptr) {
      for (const RadioGroup& group : groups_) {
        if (group.front().button == field) {
          for (const RadioButton& member : group) {
            if (member.button != nullptr) {
              member.button->setAccessibleDescription(label->text());
            }
          }
        }
      }
    } else {
      field->setAccessibleName(label->text());
    }
  }
}

}  // namespace twqt
