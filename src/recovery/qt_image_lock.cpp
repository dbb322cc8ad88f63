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
constexpr char kHostGoneLine[] = "host gone";

}  // namespace

ImageLock::ImageLock(QString path, QString what, bool raises)
    : path_(std::move(path)), what_(std::move(what)), raises_(raises) {}

ImageLock::~ImageLock() {
  release();
}

void ImageLock::release() {
  if (fd_ < 0) return;
  QFile::remove(path_);
  ::close(fd_);
  fd_ = -1;
}

QString ImageLock::path_for_image(const QString& image_path) {
  return RecoveryStore::directory() + QLatin1Char('/') + RecoveryStore::key_of_image(image_path) +
         QStringLiteral(".lock");
}

QString ImageLock::take() {
  holder_ = raising_holder_ = 0;
  holder_host_gone_ = false;
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
      if (pid_read && pid > 0) holder_ = pid;
      what = QString::fromUtf8(file.readLine()).trimmed();
      while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line == kRaiseLine && holder_ > 0) raising_holder_ = pid;
        if (line == kHostGoneLine) holder_host_gone_ = true;
      }
    }
    ::close(fd);
    return what.isEmpty() ? QStringLiteral("another Tarvo canvas") : what;
  }
  fd_ = fd;
  const QByteArray lines = text();
  if (::ftruncate(fd, 0) != 0 || ::write(fd, lines.constData(), lines.size()) != lines.size())
    std::cerr << "tarvo: cannot write " << path_.toStdString() << std::endl;
  return {};
}

QByteArray ImageLock::text() const {
  QByteArray lines = QByteArray::number(::getpid()) + '\n' + what_.toUtf8() + '\n';
  if (raises_) lines += QByteArray(kRaiseLine) + '\n';
  if (host_gone_) lines += QByteArray(kHostGoneLine) + '\n';
  return lines;
}

void ImageLock::mark_host_gone() {
  host_gone_ = true;
  if (fd_ < 0) return;
  const QByteArray lines = text();
  if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, lines.constData(), lines.size(), 0) != lines.size())
    std::cerr << "tarvo: cannot write " << path_.toStdString() << std::endl;
}

}  // namespace tarvo
