#include "platform/qt/message_box_views.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace twqt {
namespace {

QMessageBox::Icon IconOf(UINT style) {
  switch (style & MB_ICONMASK) {
    case MB_ICONERROR:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONWARNING:
      return QMessageBox::Warning;
    case MB_ICONINFORMATION:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QMessageBox::StandardButtons ButtonsOf(UINT style) {
  if ((style & MB_TYPEMASK) == MB_OKCANCEL) {
    return QMessageBox::Ok | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

// A system text ends with a line break, which would show as an empty line.
QString TextOf(const twplat::MessageBoxRecord& box) {
  QString text = QString::fromUtf8(box.text());
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  while (text.endsWith(QLatin1Char('\n'))) {
    text.chop(1);
  }
  return text;
}

// The button the user chose. A box closed without a button (its close box)
// answers Cancel when it has one, OK otherwise, as on Windows.
int AnswerOf(QMessageBox& dialog, UINT style) {
  QMessageBox::StandardButton chosen = dialog.standardButton(dialog.clickedButton());
  if (chosen == QMessageBox::Ok) {
    return IDOK;
  }
  if (chosen == QMessageBox::Cancel) {
    return IDCANCEL;
  }
  return (style & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDOK;
}

}  // namespace

MessageBoxViews::MessageBoxViews(std::function<QWidget*(HWND)> ownerWindow)
    : ownerWindow_(std::move(ownerWindow)) {}

// A box whose dialog goes before the user answered (with its owner's
// window, or with the host) answers as its close box would, so the thread
// that opened it does not wait forever.
MessageBoxViews::~MessageBoxViews() {
  std::map<const twplat::MessageBoxRecord*, OpenBox> open;
  open.swap(open_);
  for (auto& [record, box] : open) {
    delete box.dialog.data();
  }
}

void MessageBoxViews::Open(const std::shared_ptr<twplat::MessageBoxRecord>& box) {
  if (box->closed()) {
    return;
  }
  QWidget* owner = box->owner() != nullptr ? ownerWindow_(box->owner()) : nullptr;
  auto* dialog = new QMessageBox(IconOf(box->style()), QString::fromUtf8(box->caption()),
                                 TextOf(*box), ButtonsOf(box->style()), owner);
  dialog->setTextFormat(Qt::PlainText);
  dialog->setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::NonModal);
  const twplat::MessageBoxRecord* key = box.get();
  open_[key] = OpenBox{box, dialog};
  QObject::connect(dialog, &QMessageBox::finished, dialog, [this, key] { Answered(key); });
  QObject::connect(dialog, &QObject::destroyed, [box] {
    box->Close((box->style() & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDOK);
  });
  dialog->show();
  dialog->activateWindow();
}

void MessageBoxViews::Answered(const twplat::MessageBoxRecord* box) {
  auto found = open_.find(box);
  if (found == open_.end()) {
    return;
  }
  OpenBox answered = found->second;
  open_.erase(found);
  if (answered.dialog != nullptr) {
    answered.record->Close(AnswerOf(*answered.dialog, answered.record->style()));
    answered.dialog->deleteLater();
  }
}

void MessageBoxViews::Closed(const twplat::MessageBoxRecord* box) {
  auto found = open_.find(box);
  if (found == open_.end()) {
    return;
  }
  QPointer<QMessageBox> dialog = found->second.dialog;
  open_.erase(found);
  if (dialog != nullptr) {
    dialog->hide();
    dialog->deleteLater();
  }
}

}  // namespace twqt
