#include "recovery/qt_image_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "recovery/qt_recovery.h"

namespace tarvo {

namespace {

constexpr char kRaiseLine[] = "raise SIGUSR1";

}  // namespace

ImageLock::ImageLock(QString path, QString what, bool raises)
    : path_(std::move(path)), what_(std::move(what)), raises_(raises) {}

ImageLock::~ImageLock() {
  if (fd_ < 0) return;
  QFile::remove(path_);
  ::close(fd_);
}

QString ImageLock::path_for_image(const QString& image_path) {
  return RecoveryStore::directory() + QLatin1Char('/') + RecoveryStore::key_of_image(image_path) +
         QStringLiteral(".lock");
}

QString ImageLock::take() {
  make_private_folder(QFileInfo(path_).absolutePath());
  const int fd = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::cerr << "tarvo: cannot make " << path_.toStdString() << ": " << std::strerror(errno)
              << std::endl;
    return {};
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    QFile file(path_);
    QString what;
    if (file.open(QIODevice::ReadOnly)) {
      bool pid_read = false;
      const pid_t pid = static_cast<pid_t>(file.readLine().trimmed().toLong(&pid_read));
      what = QString::fromUtf8(file.readLine()).trimmed();
      if (pid_read && pid > 0 && file.readLine().trimmed() == kRaiseLine) raising_holder_ = pid;
    }
    ::close(fd);
    return what.isEmpty() ? QStringLiteral("another Tarvo canvas") : what;
  }
  fd_ = fd;
  QByteArray text = QByteArray::number(::getpid()) + '\n' + what_.toUtf8() + '\n';
  if (raises_) text += QByteArray(kRaiseLine) + '\n';
  if (::ftruncate(fd, 0) != 0 || ::write(fd, text.constData(), text.size()) != text.size())
    std::cerr << "tarvo: cannot write " << path_.toStdString() << std::endl;
  return {};
}

}  // namespace tarvo
