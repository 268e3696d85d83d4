// Message boxes as QMessageBox dialogs, on Qt's thread. A box with an owner
// is modal to the owner's window; one without (a worker's) leaves every
// window usable. The user's answer closes the window system's box, which
// lets the thread that opened it go on.
#pragma once

#include <QPointer>

#include <functional>
#include <map>
#include <memory>

#include "platform/win32/host.h"

class QMessageBox;
class QWidget;

namespace twqt {

class MessageBoxViews {
 public:
  // ownerWindow: the top-level window of an owner window, or null.
  explicit MessageBoxViews(std::function<QWidget*(HWND)> ownerWindow);
  ~MessageBoxViews();
  MessageBoxViews(const MessageBoxViews&) = delete;
  MessageBoxViews& operator=(const MessageBoxViews&) = delete;

  void Open(const std::shared_ptr<twplat::MessageBoxRecord>& box);
  // The window system closed the box (the user's answer, or a quit request):
  // its dialog goes, if it is still up.
  void Closed(const twplat::MessageBoxRecord* box);

 private:
  struct OpenBox {
    std::shared_ptr<twplat::MessageBoxRecord> record;
    QPointer<QMessageBox> dialog;
  };

  void Answered(const twplat::MessageBoxRecord* box);

  std::function<QWidget*(HWND)> ownerWindow_;
  std::map<const twplat::MessageBoxRecord*, OpenBox> open_;
};

}  // namespace twqt
