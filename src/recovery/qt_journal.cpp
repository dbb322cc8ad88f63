#include "recovery/qt_journal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
// Planes of more pixels than this are kept by a child process rather than copied: the copy would
// take the pointer's thread longer than the fork.
constexpr int64_t kCopiedUpTo = int64_t{2048} * 2048;

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
  Base base = describe_base(start);
  if (abandoned_ && start.kept) abandon(*start.kept);
  const bool child_writing = base.kind == Base::Kind::ChildWriting;
  // The base is safe from a kill once written; the disk gets it after the journal is in place, so
  // that the journal names it at once.
  const auto close_base = [this, &base](bool sync) {
    if (base.unsynced_fd < 0) return true;
    const bool synced = !sync || abandoned_ || ::fdatasync(base.unsynced_fd) == 0;
    ::close(base.unsynced_fd);
    base.unsynced_fd = -1;
    return synced;
  };
  if (base.line.empty()) {
    close_base(false);
    if (!base.file.isEmpty()) QFile::remove(base.file);
    return false;
  }
  const QString date = QDateTime::currentDateTime().toString(Qt::ISODate);
  std::string text = "# Tarvo " TARVO_VERSION " session journal, started " + date.toStdString() +
                     "\n" + base.line + "\n" + describe_image(start);
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
    if (child_writing) abandon(*start.kept);
    fd_ = old_fd;
    if (!base.file.isEmpty() && base.file != snapshot_) QFile::remove(base.file);
    return false;
  }
  if (!close_base(true)) fail(QStringLiteral("cannot sync its base"), errno);
  sync_folder_of(path_);
  if (old_fd >= 0) ::close(old_fd);
  // The journal replaced names its base no more.
  if (base_writer_) abandon(*base_writer_);
  base_writer_.reset();
  drop_copy_check();
  if (!snapshot_.isEmpty() && snapshot_ != base.file) QFile::remove(snapshot_);
  snapshot_ = base.file;
  if (child_writing) {
    base_writer_ = std::move(start.kept);
  } else if (base.kind == Base::Kind::CopyUnchecked) {
    check_copy_of(base.file, std::make_unique<JournalStart>(std::move(start)));
  } else {
    base_settled(true);
    return true;
  }
  std::lock_guard lock(mutex_);
  base_pending_ = true;
  return true;
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
