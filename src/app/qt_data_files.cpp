#include "app/qt_data_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace tarvo {

namespace {

QStringList data_folders() {
  QStringList folders;
  const QString from_environment = qEnvironmentVariable("TARVO_DATA_DIR");
  if (!from_environment.isEmpty()) folders << from_environment;
  if (QCoreApplication::instance() != nullptr) {
    folders << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tarvo");
  }
  folders << QStringLiteral(TARVO_INSTALLED_DATA_DIR) << QStringLiteral(TARVO_SOURCE_DATA_DIR);
  return folders;
}

}  // namespace

QString tarvo_data_file(const QString& name) {
  for (const QString& folder : data_folders()) {
    const QFileInfo candidate(QDir(folder), name);
    if (candidate.isFile()) return QDir::cleanPath(candidate.absoluteFilePath());
  }
  return QString();
}

}  // namespace tarvo
