// A label that cuts a text too long for it at its end, with an ellipsis
// (SS_ENDELLIPSIS). text() keeps the whole text.
#pragma once

#include <QLabel>

namespace twqt {

class EllipsisLabel : public QLabel {
 public:
  using QLabel::QLabel;

  // The text as drawn: whole when it fits, else its beginning and "…".
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect TextRoom() const;
};

}  // namespace twqt
