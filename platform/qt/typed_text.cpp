#include "platform/qt/typed_text.h"

namespace twqt {

bool TypedText::ShouldShow(const QString& reported) {
  if (!awaited_) {
    return true;
  }
  if (reported == *awaited_) {
    awaited_.reset();
    return false;
  }
  if (awaited_->startsWith(reported)) {
    return false;
  }
  awaited_.reset();
  return true;
}

}  // namespace twqt
