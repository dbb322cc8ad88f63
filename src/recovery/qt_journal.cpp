#include "recovery/qt_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <span>

#include "recovery/qt_recovery.h"
#include "script/event_script.h"

namespace tarvo {

namespace {

// Inputs reach the file at every stroke's end (at most kWriteGap later when strokes end faster
// than that) and at least every kSyncInterval; the disk at most kSyncGap after the file.
constexpr auto kSyncInterval = std::chrono::seconds(1);
constexpr auto kSyncGap = std::chrono::milliseconds(200);
constexpr auto kWriteGap = std::chrono::milliseconds(20);

bool same_pixels(const HostImage& a, const HostImage& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  const std::size_t w = static_cast<std::size_t>(a.width());
  for (int32_t y = 0; y < a.height(); ++y) {
    if (std::memcmp(a.red.row(y), b.red.row(y), w) != 0 ||
        std::memcmp(a.green.row(y), b.green.row(y), w) != 0 ||
        std::memcmp(a.blue.row(y), b.blue.row(y), w) != 0) {
      return false;
    }
  }
  return true;
}

std::string sha1_of(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().toStdString();
}

void sync_folder_of(const QString& path) {
  const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

HostImage copy_planes(const Plane& red, const Plane& green, const Plane& blue) {
  HostImage image;
  image.red = red.copy();
  image.green = green.copy();
  image.blue = blue.copy();
  return image;
}

SessionJournal::SessionJournal(QString path, WriteCall write)
    : path_(QFileInfo(path).absoluteFilePath()), write_(std::move(write)) {
  make_private_folder(QFileInfo(path_).absolutePath());
  writer_ = std::thread([this] { run(); });
}

SessionJournal::~SessionJournal() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
  if (fd_ >= 0) ::close(fd_);
}

void SessionJournal::record(Verb verb, std::initializer_list<double> args) {
  Input input;
  input.verb = verb;
  input.arg_count = static_cast<uint8_t>(std::min(args.size(), input.args.size()));
  std::copy_n(args.begin(), input.arg_count, input.args.begin());
  std::lock_guard lock(mutex_);
  if (pending_.empty()) pending_.emplace_back();
  pending_.back().inputs.push_back(input);
}

void SessionJournal::sync_soon() {
  {
    std::lock_guard lock(mutex_);
    sync_asked_ = true;
  }
  wake_.notify_one();
}

void SessionJournal::restart(JournalStart start) {
  {
    std::lock_guard lock(mutex_);
    Chunk chunk;
    chunk.start = std::make_unique<JournalStart>(std::move(start));
    pending_.push_back(std::move(chunk));
    sync_asked_ = true;
  }
  wake_.notify_one();
}

void SessionJournal::flush() {
  std::unique_lock lock(mutex_);
  sync_asked_ = true;
  wake_.notify_one();
  done_.wait(lock, [this] { return (pending_.empty() && !busy_) || stopping_; });
}

void SessionJournal::remove_files() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    pending_.clear();
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  QFile::remove(path_);
  QFile::remove(path_ + QStringLiteral(".new"));
  if (!snapshot_.isEmpty()) QFile::remove(snapshot_);
}

void SessionJournal::remove_after_first_base(QStringList files) {
  std::lock_guard lock(mutex_);
  remove_after_base_ = std::move(files);
}

bool SessionJournal::ok() const {
  std::lock_guard lock(mutex_);
  return ok_;
}

void SessionJournal::run() {
  // The pointer's thread comes first: the writer takes what a busy machine leaves over, which a
  // sync every second or stroke needs little of.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
  using Clock = std::chrono::steady_clock;
  Clock::time_point next_sync = Clock::now();
  bool unsynced = false;  // written to the file, not yet to the disk
  std::unique_lock lock(mutex_);
  for (;;) {
    const Clock::time_point until = unsynced ? next_sync : Clock::now() + kSyncInterval;
    wake_.wait_until(lock, until, [this] { return stopping_ || sync_asked_; });
    if (stopping_ && pending_.empty() && !unsynced) break;
    std::deque<Chunk> work;
    work.swap(pending_);
    sync_asked_ = false;
    busy_ = true;
    lock.unlock();
    // Of several restarts waiting, only the last one's journal is worth writing.
    auto from = work.begin();
    for (auto it = work.begin(); it != work.end(); ++it) {
      if (it->start) from = it;
    }
    for (auto it = from; it != work.end(); ++it) unsynced |= write_chunk(*it);
    // What is written is safe from a kill at once; the disk gets it at most kSyncGap later, so
    // that strokes ending in quick succession share one sync.
    if (unsynced && fd_ >= 0 && (Clock::now() >= next_sync || stopping_)) {
      if (writing_ && ::fdatasync(fd_) != 0) fail(QStringLiteral("cannot sync"), errno);
      unsynced = false;
      next_sync = Clock::now() + kSyncGap;
    }
    lock.lock();
    busy_ = false;
    ok_ = writing_;
    done_.notify_all();
    // Strokes that end in quick succession (a replay, a scribble) share a write.
    wake_.wait_for(lock, kWriteGap, [this] { return stopping_; });
  }
  busy_ = false;
  done_.notify_all();
}

bool SessionJournal::write_chunk(Chunk& chunk) {
  if (chunk.start) writing_ = begin_file(*chunk.start);
  if (!writing_ || fd_ < 0 || chunk.inputs.empty()) return false;
  std::string text;
  for (const Input& input : chunk.inputs) {
    text += format_line(input.verb, std::span<const double>(input.args.data(), input.arg_count));
    text += '\n';
  }
  writing_ = append(text);
  return writing_;
}

bool SessionJournal::begin_file(const JournalStart& start) {
  QString snapshot;
  const std::string base = describe_base(start, snapshot);
  if (base.empty()) return false;
  const QString date = QDateTime::currentDateTime().toString(Qt::ISODate);
  std::string text = "# Tarvo " TARVO_VERSION " session journal, started " + date.toStdString() +
                     "\n" + base + "\n" + describe_image(start);
  if (start.held_by_host) text += "#@ held\n";
  for (const std::string& line : start.header) text += "#@ " + line + "\n";
  for (const std::string& line : start.prelude) text += line + "\n";
  text += std::string(kJournalInputMark) + "\n";

  const QString temporary = path_ + QStringLiteral(".new");
  const QByteArray name = QFile::encodeName(temporary);
  const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    fail(QStringLiteral("cannot create it"), errno);
    return false;
  }
  ::fchmod(fd, 0600);  // whatever the umask
  // A journal locked by a running program is not offered for recovery.
  ::flock(fd, LOCK_EX | LOCK_NB);
  const int old_fd = fd_;
  fd_ = fd;
  bool written = append(text);
  if (written && ::fdatasync(fd) != 0) {
    fail(QStringLiteral("cannot sync it"), errno);
    written = false;
  }
  if (written && ::rename(name.constData(), QFile::encodeName(path_).constData()) != 0) {
    fail(QStringLiteral("cannot put it in place"), errno);
    written = false;
  }
  if (!written) {
    ::close(fd);
    ::unlink(name.constData());
    fd_ = old_fd;
    if (!snapshot.isEmpty() && snapshot != snapshot_) QFile::remove(snapshot);
    return false;
  }
  sync_folder_of(path_);
  if (old_fd >= 0) ::close(old_fd);
  if (!snapshot_.isEmpty() && snapshot_ != snapshot) QFile::remove(snapshot_);
  snapshot_ = snapshot;
  QStringList superseded;
  {
    std::lock_guard lock(mutex_);
    superseded.swap(remove_after_base_);
  }
  for (const QString& file : superseded) QFile::remove(file);
  return true;
}

std::string SessionJournal::describe_base(const JournalStart& start, QString& snapshot) {
  QString stem = path_;
  stem.chop(4);  // ".tvs"
  if (start.image_as_held) image_seen_ = *start.image_as_held;
  if (start.base.kind == JournalBase::Kind::ImageFile) {
    const QString image = QFileInfo(start.base.image_path).absoluteFilePath();
    try {
      QFile file(image);
      if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        file.close();
        const std::string sha1 = sha1_of(bytes);
        if (!start.image_as_held) image_seen_ = ImageIdentity{bytes.size(), sha1};
        const ImageFile read = read_image_file(image, machine_image_limits());
        if (same_pixels(read.image, start.planes)) {
          // Another program may write over the file: the journal keeps the bytes it paints over.
          const QString suffix = QFileInfo(image).suffix();
          snapshot = stem + QStringLiteral("-base-%1").arg(++snapshot_number_) +
                     (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
          if (!write_file_bytes(snapshot, bytes)) return {};
          return "#@ base image " + image.toStdString() + " " + sha1 + "\n#@ base copy " +
                 snapshot.toStdString();
        }
      }
    } catch (const std::exception&) {
      // The file cannot serve as the base: a snapshot does.
    }
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!picture_of(start.planes.red, start.planes.green, start.planes.blue).save(&buffer, "png")) {
    fail(QStringLiteral("cannot encode its base"), 0);
    return {};
  }
  snapshot = stem + QStringLiteral("-base-%1.png").arg(++snapshot_number_);
  if (!write_file_bytes(snapshot, png)) return {};
  return "#@ base snapshot " + snapshot.toStdString() + " " + sha1_of(png);
}

std::string SessionJournal::describe_image(const JournalStart& start) {
  if (start.base.image_path.isEmpty()) return {};
  const QString image = QFileInfo(start.base.image_path).absoluteFilePath();
  if (!image_seen_.known()) {
    // A session that began over a snapshot (a file that does not hold the planes) takes the file
    // as it is at its first start.
    QFile file(image);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    image_seen_ = ImageIdentity{bytes.size(), sha1_of(bytes)};
  }
  return "#@ file " + std::to_string(image_seen_.size) + " " + image_seen_.sha1 + " " +
         image.toStdString() + "\n";
}

bool SessionJournal::write_file_bytes(const QString& path, const QByteArray& bytes) {
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    fail(QStringLiteral("cannot create its base ") + path, errno);
    return false;
  }
  ::fchmod(fd, 0600);
  const int old_fd = fd_;
  fd_ = fd;
  const bool written = append(bytes.toStdString()) && ::fdatasync(fd) == 0;
  fd_ = old_fd;
  ::close(fd);
  if (!written) {
    ::unlink(name.constData());
    return false;
  }
  return true;
}

bool SessionJournal::append(const std::string& text) {
  const char* bytes = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = write_(fd_, bytes, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      fail(QStringLiteral("cannot write it"), written < 0 ? errno : ENOSPC);
      return false;
    }
    bytes += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

void SessionJournal::fail(const QString& what, int error_number) {
  if (reported_) return;
  reported_ = true;
  std::cerr << "tarvo: the session journal " << path_.toStdString() << ": " << what.toStdString()
            << (error_number ? std::string(": ") + std::strerror(error_number) : std::string())
            << "; painting goes on, and what is painted from here can be recovered from the next "
               "autosave"
            << std::endl;
}

}  // namespace tarvo
