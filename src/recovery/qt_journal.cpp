#include "recovery/qt_journal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <span>

#include "file/plane_snapshot.h"
#include "recovery/qt_recovery.h"
#include "script/event_script.h"

namespace tarvo {

namespace {

// Inputs reach the file at every stroke's end (at most kWriteGap later when strokes end faster
// than that) and at least every kSyncInterval; the disk at most kSyncGap after the file.
constexpr auto kSyncInterval = std::chrono::seconds(1);
constexpr auto kSyncGap = std::chrono::milliseconds(200);
// How often the writer looks whether the child writing a base has finished it.
constexpr auto kBasePoll = std::chrono::milliseconds(20);
constexpr auto kWriteGap = std::chrono::milliseconds(20);
// Without the host's word, an image file is decoded to see whether it holds the planes only up to
// this many pixels (a few tenths of a second); a larger one is journalled over a snapshot.
constexpr int64_t kDecodedToCompare = int64_t{4096} * 4096;
// Planes of more pixels than this are kept by a child process rather than copied: the copy would
// take the pointer's thread longer than the fork.
constexpr int64_t kCopiedUpTo = int64_t{2048} * 2048;

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

void SessionJournal::keep_planes(JournalStart& start, const Plane& red, const Plane& green,
                                 const Plane& blue, std::span<const Plane* const> unneeded) const {
  if (int64_t{red.columns()} * red.rows() > kCopiedUpTo) {
    start.kept = KeptPlanes::keep(red, green, blue, write_, unneeded);
    if (start.kept) return;
  }
  start.planes = copy_planes(red, green, blue);
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
  done_.wait(lock, [this] { return (pending_.empty() && !busy_ && !base_pending_) || stopping_; });
}

void SessionJournal::remove_files() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (Chunk& chunk : pending_) {
      if (chunk.start && chunk.start->kept) abandon(*chunk.start->kept);
    }
    pending_.clear();
    abandoned_ = true;
    if (writing_child_ > 0) ::kill(writing_child_, SIGKILL);
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
    Clock::time_point until = unsynced ? next_sync : Clock::now() + kSyncInterval;
    if (base_writer_ || copy_check_) until = std::min(until, Clock::now() + kBasePoll);
    wake_.wait_until(lock, until, [this] { return stopping_ || sync_asked_; });
    if (base_writer_ || copy_check_) {
      // Busy meanwhile: a journal started again over a snapshot is not whole until the inputs
      // it carries over are in it too.
      busy_ = true;
      lock.unlock();
      check_base(0);
      check_copy();
      lock.lock();
      busy_ = false;
    }
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
  lock.unlock();
  drop_copy_check();
  if (base_writer_) {
    // A base still being written is the child's to finish, after the program if need be, unless
    // the session ended and nothing of it is needed.
    if (abandoned_) abandon(*base_writer_);
    base_writer_->leave_unwaited();
    base_writer_.reset();
  }
  lock.lock();
  base_pending_ = false;
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
  if (writing_ && copy_check_) copy_check_->since += text;
  return writing_;
}

bool SessionJournal::begin_file(JournalStart& start) {
  QString snapshot;
  int base_fd = -1;
  bool copy_unchecked = false;
  const std::string base = describe_base(start, snapshot, base_fd, copy_unchecked);
  if (abandoned_ && start.kept) abandon(*start.kept);
  const bool base_written_later = start.kept && base.starts_with("#@ base snapshot ");
  // The base is safe from a kill once written; the disk gets it after the journal is in place, so
  // that the journal names it at once.
  const auto close_base = [this, &base_fd](bool sync) {
    if (base_fd < 0) return true;
    const bool synced = !sync || abandoned_ || ::fdatasync(base_fd) == 0;
    ::close(base_fd);
    base_fd = -1;
    return synced;
  };
  if (base.empty()) {
    close_base(false);
    if (!snapshot.isEmpty()) QFile::remove(snapshot);
    return false;
  }
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
    close_base(false);
    if (start.kept && base_written_later) abandon(*start.kept);
    fd_ = old_fd;
    if (!snapshot.isEmpty() && snapshot != snapshot_) QFile::remove(snapshot);
    return false;
  }
  if (!close_base(true)) fail(QStringLiteral("cannot sync its base"), errno);
  sync_folder_of(path_);
  if (old_fd >= 0) ::close(old_fd);
  // The journal replaced names its base no more.
  if (base_writer_) abandon(*base_writer_);
  base_writer_.reset();
  drop_copy_check();
  if (!snapshot_.isEmpty() && snapshot_ != snapshot) QFile::remove(snapshot_);
  snapshot_ = snapshot;
  if (base_written_later) {
    base_writer_ = std::move(start.kept);
  } else if (copy_unchecked) {
    check_copy_of(snapshot, std::make_unique<JournalStart>(std::move(start)));
  } else {
    base_settled(true);
    return true;
  }
  std::lock_guard lock(mutex_);
  base_pending_ = true;
  return true;
}

void SessionJournal::base_settled(bool whole) {
  QStringList superseded;
  {
    std::lock_guard lock(mutex_);
    if (whole) superseded.swap(remove_after_base_);
    base_pending_ = false;
    writing_child_ = 0;
  }
  for (const QString& file : superseded) QFile::remove(file);
  done_.notify_all();
}

void SessionJournal::check_copy_of(const QString& copy, std::unique_ptr<JournalStart> start) {
  copy_check_ = std::make_unique<CopyCheck>();
  copy_check_->start = std::move(start);
  copy_check_->thread = std::thread([this, check = copy_check_.get(), copy] {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
    const int fd = ::open(QFile::encodeName(copy).constData(), O_RDONLY | O_CLOEXEC);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    std::vector<char> piece(std::size_t{4} << 20);
    qint64 size = 0;
    ssize_t got = fd < 0 ? -1 : 0;
    while (fd >= 0 && !abandoned_ && !check->dropped) {
      got = ::read(fd, piece.data(), piece.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      hash.addData(QByteArrayView(piece.data(), got));
      size += got;
    }
    if (fd >= 0) ::close(fd);
    if (got == 0 && !abandoned_) {
      check->sha1 = hash.result().toHex().toStdString();
      check->size = size;
    }
    check->done = true;
  });
}

void SessionJournal::drop_copy_check() {
  if (!copy_check_) return;
  copy_check_->dropped = true;
  copy_check_->thread.join();
  copy_check_.reset();
}

void SessionJournal::check_copy() {
  if (!copy_check_ || !copy_check_->done) return;
  copy_check_->thread.join();
  const std::unique_ptr<CopyCheck> check = std::move(copy_check_);
  JournalStart& start = *check->start;
  if (abandoned_) return;
  if (check->sha1 == start.planes_file_sha1) {
    base_settled(true);
    return;
  }
  // The file changed between the host's read and the copy: the journal starts again over a
  // snapshot of the planes, with the inputs it took meanwhile.
  if (!start.image_as_held && check->size >= 0)
    image_seen_ = ImageIdentity{check->size, check->sha1};
  start.planes_file_sha1.clear();
  writing_ = begin_file(start) && append(check->since);
  if (!writing_) base_settled(false);
}

void SessionJournal::check_base(int timeout_ms) {
  if (!base_writer_) return;
  const std::optional<KeptPlanes::Written> written = base_writer_->snapshot_written(timeout_ms);
  if (!written) return;
  base_writer_.reset();
  if (written->checksum.empty() && !abandoned_) {
    // The journal names a base that will never be whole: it cannot be replayed, and is removed
    // until the next restart writes a whole one.
    fail(QStringLiteral("cannot write its base ") + snapshot_, written->error);
    writing_ = false;
    QFile::remove(path_);
    QFile::remove(snapshot_);
    snapshot_.clear();
  }
  base_settled(!written->checksum.empty());
}

std::optional<QByteArray> SessionJournal::file_holding_planes(const JournalStart& start,
                                                              const QString& image,
                                                              std::string& sha1) {
  QFile file(image);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QByteArray bytes = file.readAll();
  file.close();
  sha1 = sha1_of(bytes);
  if (!start.image_as_held) image_seen_ = ImageIdentity{bytes.size(), sha1};
  // The host knows what it read or wrote; without its word, only a small image is decoded to see.
  if (!start.planes_file_sha1.empty()) {
    if (sha1 == start.planes_file_sha1) return bytes;
    return std::nullopt;
  }
  if (start.kept || int64_t{start.planes.width()} * start.planes.height() > kDecodedToCompare) {
    return std::nullopt;
  }
  try {
    const ImageFile read = read_image_file(image, machine_image_limits());
    if (same_pixels(read.image, start.planes)) return bytes;
  } catch (const std::exception&) {
    // The file cannot serve as the base: a snapshot does.
  }
  return std::nullopt;
}

std::string SessionJournal::describe_base(JournalStart& start, QString& snapshot, int& unsynced_fd,
                                          bool& copy_unchecked) {
  QString stem = path_;
  stem.chop(4);  // ".tvs"
  if (start.image_as_held) image_seen_ = *start.image_as_held;
  if (start.base.kind == JournalBase::Kind::ImageFile) {
    const QString image = QFileInfo(start.base.image_path).absoluteFilePath();
    const QString suffix = QFileInfo(image).suffix();
    const auto copy_name = [&] {
      return stem + QStringLiteral("-base-%1").arg(++snapshot_number_) +
             (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    };
    if (!start.planes_file_sha1.empty()) {
      // The host vouches for the file: the kernel copies it, and the journal names the copy at
      // once. Its SHA-1 is taken beside the appends (copy_check_); recovery takes whichever of
      // the file and its copy has the SHA-1, and until the check the file has it.
      snapshot = copy_name();
      unsynced_fd = create_base_file(snapshot);
      if (unsynced_fd < 0) return {};
      qint64 size = -1;
      if (!copy_file_into(image, unsynced_fd, size)) return {};
      if (size >= 0) {
        if (!start.image_as_held) image_seen_ = ImageIdentity{size, start.planes_file_sha1};
        copy_unchecked = true;
        return "#@ base image " + image.toStdString() + " " + start.planes_file_sha1 +
               "\n#@ base copy " + snapshot.toStdString();
      }
      ::close(unsynced_fd);
      unsynced_fd = -1;
      QFile::remove(snapshot);
      snapshot.clear();
    }
    std::string sha1;
    if (const std::optional<QByteArray> bytes = start.planes_file_sha1.empty()
                                                    ? file_holding_planes(start, image, sha1)
                                                    : std::nullopt) {
      // Another program may write over the file: the journal keeps the bytes it paints over.
      snapshot = copy_name();
      unsynced_fd = create_base_file(snapshot);
      if (unsynced_fd < 0) return {};
      if (!write_all(unsynced_fd, bytes->constData(), static_cast<std::size_t>(bytes->size()))) {
        return {};
      }
      return "#@ base image " + image.toStdString() + " " + sha1 + "\n#@ base copy " +
             snapshot.toStdString();
    }
  }
  // The planes as they are in memory: a copy into the file, not an encoding.
  snapshot = stem + QStringLiteral("-base-%1.tvp").arg(++snapshot_number_);
  if (start.kept) {
    {
      std::lock_guard lock(mutex_);
      if (abandoned_) return {};
      writing_child_ = start.kept->child();
    }
    // The child names the snapshot's checksum at once and writes it on, beside the journal's
    // appends; the journal is named before its base is whole, since the child finishes the base
    // whatever becomes of the program.
    const KeptPlanes::Written announced =
        start.kept->begin_snapshot(QFile::encodeName(snapshot).toStdString());
    if (abandoned_) return {};
    if (announced.checksum.empty()) {
      std::lock_guard lock(mutex_);
      writing_child_ = 0;
      fail(QStringLiteral("cannot write its base ") + snapshot, announced.error);
      return {};
    }
    return "#@ base snapshot " + snapshot.toStdString() + " " + announced.checksum;
  }
  unsynced_fd = create_base_file(snapshot);
  if (unsynced_fd < 0) return {};
  const Plane* planes[] = {&start.planes.red, &start.planes.green, &start.planes.blue};
  const std::string checksum = write_plane_snapshot(
      planes,
      [&](const void* bytes, std::size_t size) { return write_all(unsynced_fd, bytes, size); });
  if (checksum.empty()) return {};
  return "#@ base snapshot " + snapshot.toStdString() + " " + checksum;
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

void SessionJournal::abandon(KeptPlanes& kept) {
  ::kill(kept.child(), SIGKILL);
  kept.leave_unwaited();
}

bool SessionJournal::copy_file_into(const QString& path, int fd, qint64& size) {
  size = -1;
  const int from = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return true;  // no file to take: the caller writes a snapshot
  // The kernel copies within its page cache, a tenth of the time the bytes take through here;
  // between file systems it cannot, and they do.
  constexpr std::size_t kPiece = std::size_t{64} << 20;
  bool by_kernel = true;
  std::vector<char> piece;
  qint64 copied = 0;
  for (;;) {
    if (abandoned_) {
      ::close(from);
      return false;
    }
    ssize_t moved = -1;
    if (by_kernel) {
      moved = ::copy_file_range(from, nullptr, fd, nullptr, kPiece, 0);
      if (moved < 0 && copied == 0 &&
          (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        by_kernel = false;
        continue;
      }
    } else {
      piece.resize(std::size_t{4} << 20);
      moved = ::read(from, piece.data(), piece.size());
      if (moved > 0 && !write_all(fd, piece.data(), static_cast<std::size_t>(moved))) {
        ::close(from);
        return false;
      }
    }
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
      fail(QStringLiteral("cannot write it"), errno);
      ::close(from);
      return false;
    }
    if (moved < 0) break;  // unreadable: not the file the host vouched for
    if (moved == 0) {
      size = copied;
      break;
    }
    copied += moved;
  }
  ::close(from);
  return true;
}

int SessionJournal::create_base_file(const QString& path) {
  const int fd =
      ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    fail(QStringLiteral("cannot create its base ") + path, errno);
    return -1;
  }
  ::fchmod(fd, 0600);
  return fd;
}

bool SessionJournal::append(const std::string& text) {
  return write_all(fd_, text.data(), text.size());
}

bool SessionJournal::write_all(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t left = size;
  // A few megabytes at a time, so that an abandoned journal stops soon.
  constexpr std::size_t kPiece = std::size_t{8} << 20;
  while (left > 0) {
    if (abandoned_) return false;
    const ssize_t written = write_(fd, bytes, std::min(left, kPiece));
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
  if (reported_ || abandoned_) return;
  reported_ = true;
  std::cerr << "tarvo: the session journal " << path_.toStdString() << ": " << what.toStdString()
            << (error_number ? std::string(": ") + std::strerror(error_number) : std::string())
            << "; painting goes on, and what is painted from here can be recovered from the next "
               "autosave"
            << std::endl;
}

}  // namespace tarvo
