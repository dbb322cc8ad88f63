#include "file/qt_file_formats.h"

#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include "core/runtime_error.h"
#include "file/qt_image_file.h"

namespace tarvo {

[[noreturn]] void raise_file_error(int number, const QString& what) {
  throw RuntimeError(number, what.toStdString());
}

bool is_writable_format(const QByteArray& format) {
  return QImageWriter::supportedImageFormats().contains(format);
}

bool is_readable_format(const QByteArray& format) {
  return QImageReader::supportedImageFormats().contains(format);
}

// A file of our making is written in the format its suffix names, else in fallback.
QByteArray format_for_suffix(const QString& path, const QByteArray& fallback) {
  const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
  if (is_writable_format(suffix)) return suffix;
  if (is_readable_format(suffix)) {
    raise_file_error(error_number::kBadFileFormat,
                     QStringLiteral("cannot create %1: %2 files can be read but not written")
                         .arg(display_name(path), QString::fromLatin1(suffix)));
  }
  return fallback;
}

bool same_file(const QString& a, const QString& b) {
  return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

}  // namespace tarvo
