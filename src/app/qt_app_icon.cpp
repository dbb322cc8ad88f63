#include "app/qt_app_icon.h"

#include "appearance/qt_data_files.h"

namespace tarvo {

QIcon tarvo_icon() {
  QIcon icon;
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString path = tarvo_data_file(QStringLiteral("icons/tarvo-%1.png").arg(size));
    if (!path.isEmpty()) icon.addFile(path, QSize(size, size));
  }
  if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("tarvo"));
  return icon;
}

}  // namespace tarvo
