#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "file/plane_snapshot.h"
#include "file/qt_image_file.h"
#include "recovery/qt_journal.h"

// The journal's base: the file it names as what its inputs replay onto (a snapshot of the planes,
// written by the journal or by the child keeping them, or a copy of the image file), made and
// then watched until it is whole on disk.

namespace tarvo {

namespace {

// Without the host's word, an image file is decoded to see whether it holds the planes only up to
// this many pixels (a few tenths of a second); a larger one is journalled over a snapshot.
constexpr int64_t kDecodedToCompare = int64_t{4096} * 4096;

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
  return checksum_of(bytes).toHex().toStdString();
}

}  // namespace

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
    qint64 size = -1;
    const QByteArray sha1 = checksum_of_file(
        copy, [&] { return abandoned_ || check->dropped; }, &size);
    if (!sha1.isEmpty()) {
      check->sha1 = sha1.toHex().toStdString();
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

SessionJournal::Base SessionJournal::describe_base(JournalStart& start) {
  Base base;
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
      base.file = copy_name();
      base.unsynced_fd = create_base_file(base.file);
      if (base.unsynced_fd < 0) return base;
      qint64 size = -1;
      if (!copy_file_into(image, base.unsynced_fd, size)) return base;
      if (size >= 0) {
        if (!start.image_as_held) image_seen_ = ImageIdentity{size, start.planes_file_sha1};
        base.kind = Base::Kind::CopyUnchecked;
        base.line = "#@ base image " + image.toStdString() + " " + start.planes_file_sha1 +
                    "\n#@ base copy " + base.file.toStdString();
        return base;
      }
      ::close(base.unsynced_fd);
      base.unsynced_fd = -1;
      QFile::remove(base.file);
      base.file.clear();
    }
    std::string sha1;
    if (const std::optional<QByteArray> bytes = start.planes_file_sha1.empty()
                                                    ? file_holding_planes(start, image, sha1)
                                                    : std::nullopt) {
      // Another program may write over the file: the journal keeps the bytes it paints over.
      base.file = copy_name();
      base.unsynced_fd = create_base_file(base.file);
      if (base.unsynced_fd < 0) return base;
      if (!write_all(base.unsynced_fd, bytes->constData(),
                     static_cast<std::size_t>(bytes->size()))) {
        return base;
      }
      base.line = "#@ base image " + image.toStdString() + " " + sha1 + "\n#@ base copy " +
                  base.file.toStdString();
      return base;
    }
  }
  // The planes as they are in memory: a copy into the file, not an encoding.
  base.file = stem + QStringLiteral("-base-%1.tvp").arg(++snapshot_number_);
  if (start.kept) {
    {
      std::lock_guard lock(mutex_);
      if (abandoned_) return base;
      writing_child_ = start.kept->child();
    }
    // The child names the snapshot's checksum at once and writes it on, beside the journal's
    // appends; the journal is named before its base is whole, since the child finishes the base
    // whatever becomes of the program.
    const KeptPlanes::Written announced =
        start.kept->begin_snapshot(QFile::encodeName(base.file).toStdString());
    if (abandoned_) return base;
    if (announced.checksum.empty()) {
      std::lock_guard lock(mutex_);
      writing_child_ = 0;
      fail(QStringLiteral("cannot write its base ") + base.file, announced.error);
      return base;
    }
    base.kind = Base::Kind::ChildWriting;
    base.line = "#@ base snapshot " + base.file.toStdString() + " " + announced.checksum;
    return base;
  }
  base.unsynced_fd = create_base_file(base.file);
  if (base.unsynced_fd < 0) return base;
  const Plane* planes[] = {&start.planes.red, &start.planes.green, &start.planes.blue};
  const std::string checksum =
      write_plane_snapshot(planes, [&](const void* bytes, std::size_t size) {
        return write_all(base.unsynced_fd, bytes, size);
      });
  if (!checksum.empty()) base.line = "#@ base snapshot " + base.file.toStdString() + " " + checksum;
  return base;
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

}  // namespace tarvo
