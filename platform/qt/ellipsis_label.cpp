#include "platform/qt/ellipsis_label.h"

#include <QPainter>

namespace twqt {

QRect EllipsisLabel::TextRoom() const {
  return contentsRect().adjusted(margin(), margin(), -margin(), -margin());
}

QString EllipsisLabel::ShownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideRight, TextRoom().width());
}

void EllipsisLabel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  painter.drawText(TextRoom(), static_cast<int>(alignment()), ShownText());
}

}  // namespace twqt
