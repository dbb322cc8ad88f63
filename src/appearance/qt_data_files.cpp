#include "appearance/qt_data_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
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
  folders << QStringLiteral(TARVO_INSTALLED_DATA_DIR);
  // A program installed elsewhere than the build said (the package's /usr, or the GIMP plug-in in
  // GIMP's own folder) finds its data in the system's data folders.
  for (const QString& shared :
       QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
    folders << shared + QStringLiteral("/tarvo");
  }
  folders << QStringLiteral(TARVO_SOURCE_DATA_DIR);
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
