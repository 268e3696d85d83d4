#include "platform/qt/icons.h"

#include <QFile>
#include <QString>

#include "platform/win32/resources.h"

namespace twqt {
namespace {

constexpr int kArtworkSizes[] = {16, 32, 48};

QString ArtworkPath(const char* name, int size) {
  return QStringLiteral(":/icons/%1-%2.png").arg(QString::fromUtf8(name)).arg(size);
}

const char* ArtworkOf(HICON icon) {
  const twplat::IconResource* resource = twplat::IconFromHandle(icon);
  return resource != nullptr ? resource->artwork : nullptr;
}

}  // namespace

QIcon IconFor(HICON icon) {
  QIcon result;
  const char* artwork = ArtworkOf(icon);
  if (artwork == nullptr) {
    return result;
  }
  for (int size : kArtworkSizes) {
    QString path = ArtworkPath(artwork, size);
    if (QFile::exists(path)) {
      result.addFile(path, QSize(size, size));
    }
  }
  return result;
}

QPixmap IconPixmap(HICON icon, int size) { return IconFor(icon).pixmap(size, size); }

}  // namespace twqt
