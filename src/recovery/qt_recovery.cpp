#include "recovery/qt_recovery.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "core/runtime_error.h"
#include "recovery/kept_planes.h"
#include "recovery/write_all.h"

namespace tarvo {

namespace {

constexpr int kSessionLength = 19;  // "yyyyMMdd-HHmmss-zzz"
// Planes of more pixels than this are autosaved by a child process that keeps them, rather than
// copied on the pointer's thread (where the child may allocate the encoder's memory).
constexpr int64_t kCopiedUpTo = int64_t{2048} * 2048;

// The session of this process: the time its first store was made.
const QString& this_session() {
  static const QString session =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
  return session;
}

void save_picture(const QImage& picture, const QString& path) {
  make_private_folder(QFileInfo(path).absolutePath());
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  QString error = picture.save(&buffer, "png") ? QString() : QStringLiteral("cannot encode it");
  if (error.isEmpty()) error = write_private_file(path, png);
  if (!error.isEmpty()) {
    throw RuntimeError(
        error_number::kFileNotFound,
        "cannot write the recovery copy " + path.toStdString() + ": " + error.toStdString());
  }
}

}  // namespace

void make_private_folder(const QString& folder) {
  const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  QString path;
  for (const QString& part : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    path += QLatin1Char('/') + part;
    const QByteArray name = QFile::encodeName(path);
    // The mode given to mkdir loses the umask's bits: chmod gives each new folder exactly 0700.
    if (::mkdir(name.constData(), 0700) == 0) ::chmod(name.constData(), 0700);
  }
  ::chmod(QFile::encodeName(absolute).constData(), 0700);
}

QString write_private_file(const QString& path, const QByteArray& bytes) {
  const QByteArray name = QFile::encodeName(path);
  const QByteArray temporary = name + ".part";
  const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
  const bool written = ::fchmod(fd, 0600) == 0 &&
                       write_all(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())) &&
                       ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  if (!written || ::rename(temporary.constData(), name.constData()) != 0) {
    const int failed = written ? errno : error;
    ::unlink(temporary.constData());
    return QString::fromLocal8Bit(std::strerror(failed));
  }
  return {};
}

QImage picture_of(const Plane& red, const Plane& green, const Plane& blue) {
  const int w = red.columns() - 1, h = red.rows() - 1;
  QImage picture(std::max(w, 1), std::max(h, 1), QImage::Format_RGB888);
  picture.fill(Qt::white);
  for (int y = 0; y < h; ++y) {
    uchar* line = picture.scanLine(y);
    const uint8_t* r = red.row(y);
    const uint8_t* g = green.row(y);
    const uint8_t* b = blue.row(y);
    for (int x = 0; x < w; ++x) {
      line[3 * x] = r[x];
      line[3 * x + 1] = g[x];
      line[3 * x + 2] = b[x];
    }
  }
  return picture;
}

RecoveryStore::RecoveryStore(QString image_path, Clock clock)
    : RecoveryStore(key_of_image(image_path), image_path, std::move(clock)) {}

RecoveryStore::RecoveryStore(QString key, QString image_path, Clock clock)
    : key_(std::move(key)),
      image_path_(image_path.isEmpty() ? QString() : QFileInfo(image_path).absoluteFilePath()),
      session_(this_session()),
      clock_(std::move(clock)),
      last_autosave_(clock_()) {}

RecoveryStore::~RecoveryStore() {
  // The journal holds the painting: an autosave under way is not waited for.
  cancel_autosave();
}

QString RecoveryStore::directory() {
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (state.isEmpty()) state = QDir::homePath() + QStringLiteral("/.local/state");
  return state + QStringLiteral("/tarvo/recovery");
}

QString RecoveryStore::key_of_gimp_image(const QString& image_file) {
  const QString tag = QString::fromLatin1(
      QCryptographicHash::hash(image_file.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
  return QFileInfo(image_file).completeBaseName() + QStringLiteral("-gimp-") + tag;
}

QString RecoveryStore::layer_key_stem(const QString& image_key) {
  return image_key + QStringLiteral("-layer-");
}

QString RecoveryStore::key_of_layer(const QString& image_key, const QString& layer_name) {
  return layer_key_stem(image_key) +
         QString::fromLatin1(QCryptographicHash::hash(layer_name.toUtf8(), QCryptographicHash::Sha1)
                                 .toHex()
                                 .left(8));
}

QString RecoveryStore::key_of_image(const QString& image_path) {
  const QFileInfo image(image_path);
  const QByteArray folder = image.absolutePath().toUtf8();
  const QString tag = QString::fromLatin1(
      QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(8));
  return image.completeBaseName() + QLatin1Char('-') + tag;
}

QString RecoveryStore::name_stem() const {
  return key_ + QLatin1Char('-');
}

QString RecoveryStore::new_path(const QString& suffix) const {
  const QString base = directory() + QLatin1Char('/') + name_stem() + session_;
  QString path = base + suffix;
  for (int n = 2; QFileInfo::exists(path); ++n) {
    path = base + QLatin1Char('-') + QString::number(n) + suffix;
  }
  return path;
}

QString RecoveryStore::next_path(const QString& suffix) const {
  const QString base = directory() + QLatin1Char('/') + name_stem() + session_ + suffix;
  // The copies of one session get numbered apart.
  QString path = base + QStringLiteral(".png");
  for (int n = 2; QFileInfo::exists(path) || path == autosave_path_; ++n) {
    path = base + QLatin1Char('-') + QString::number(n) + QStringLiteral(".png");
  }
  return path;
}

QString RecoveryStore::write_planes(const Plane& red, const Plane& green, const Plane& blue) {
  // Every path that keeps the painting (GIMP quitting, a failed send, the close) may come here
  // with the same planes: a large painting is encoded once, not once a path.
  QCryptographicHash hash(QCryptographicHash::Sha1);
  for (const Plane* plane : {&red, &green, &blue}) {
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(plane->data()),
                                static_cast<qsizetype>(plane->size())));
  }
  const QByteArray planes_hash = hash.result();
  if (planes_hash == last_copy_hash_ && QFileInfo::exists(last_copy_)) return last_copy_;
  const QString path = next_path(QString());
  save_picture(picture_of(red, green, blue), path);
  // The newer copy holds all the older ones held: one copy a painting.
  finish_autosave();
  for (const QString& file : session_files(session_)) {
    if (file != path && file.endsWith(QLatin1String(".png")) &&
        !file.contains(QLatin1String("-journal-base"))) {
      QFile::remove(file);
    }
  }
  autosave_path_.clear();
  previous_autosave_.clear();
  last_copy_ = path;
  last_copy_hash_ = planes_hash;
  return path;
}

QString RecoveryStore::write_copy(const CanvasBuffers& canvas) {
  return write_planes(canvas.RBuffer, canvas.GBuffer, canvas.BBuffer);
}

QString RecoveryStore::write_copy(const CanvasBuffers& canvas, const StrokeState& stroke) {
  if (!stroke_on_screen(stroke)) return write_copy(canvas);
  return write_planes(canvas.RPreview, canvas.GPreview, canvas.BPreview);
}

bool RecoveryStore::after_commit(const CanvasBuffers& canvas) {
  const auto now = clock_();
  if (now - last_autosave_ < kAutosaveInterval || writing_->load()) return false;
  if (worker_.joinable()) finish_autosave();  // done: the join is immediate
  last_autosave_ = now;
  previous_autosave_ = autosave_path_;
  autosave_path_ = next_path(QStringLiteral("-autosave"));
  cancelled_ = std::make_shared<std::atomic<bool>>(false);
  // Once written, the autosave is newer than the session's last copy too.
  const QString older_copy = last_copy_;
  last_copy_.clear();
  last_copy_hash_.clear();
  if (kChildMayAllocate &&
      int64_t{canvas.RBuffer.columns()} * canvas.RBuffer.rows() > kCopiedUpTo) {
    // The fork is the only work done on the pointer's thread.
    std::shared_ptr<KeptPlanes> kept = KeptPlanes::keep(
        canvas.RBuffer, canvas.GBuffer, canvas.BBuffer, ::write, canvas.stroke_planes());
    if (kept) {
      writing_->store(true);
      writer_child_->store(kept->child());
      worker_ = std::thread([kept, path = autosave_path_, previous = previous_autosave_, older_copy,
                             writing = writing_, child = writer_child_, cancelled = cancelled_] {
        make_private_folder(QFileInfo(path).absolutePath());
        const QByteArray name = QFile::encodeName(path);
        const QByteArray part = name + ".part";
        const KeptPlanes::Written written = kept->write_png(part.toStdString());
        child->store(0);
        if (cancelled->load()) {
          kept->leave_unwaited();
        } else if (written.checksum.empty()) {
          std::cerr << "tarvo: autosave failed: cannot write " << path.toStdString() << ": "
                    << std::strerror(written.error) << std::endl;
        } else {
          const int fd = ::open(part.constData(), O_WRONLY | O_CLOEXEC);
          const bool synced = fd >= 0 && ::fsync(fd) == 0;
          if (fd >= 0) ::close(fd);
          if (synced && !cancelled->load() && ::rename(part.constData(), name.constData()) == 0) {
            if (!previous.isEmpty()) QFile::remove(previous);
            if (!older_copy.isEmpty()) QFile::remove(older_copy);
          }
        }
        ::unlink(part.constData());
        writing->store(false);
      });
      return true;
    }
  }
  // The copy of the planes is the only work done on the pointer's thread; the encoding is not.
  auto picture =
      std::make_shared<QImage>(picture_of(canvas.RBuffer, canvas.GBuffer, canvas.BBuffer));
  writing_->store(true);
  worker_ = std::thread([picture, path = autosave_path_, previous = previous_autosave_, older_copy,
                         writing = writing_] {
    // The pointer's thread comes first.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
    try {
      save_picture(*picture, path);
      if (!previous.isEmpty()) QFile::remove(previous);
      if (!older_copy.isEmpty()) QFile::remove(older_copy);
    } catch (const RuntimeError& error) {
      std::cerr << "tarvo: autosave failed: " << error.what() << std::endl;
    }
    writing->store(false);
  });
  return true;
}

void RecoveryStore::finish_autosave() {
  if (worker_.joinable()) worker_.join();
}

void RecoveryStore::cancel_autosave() {
  if (!worker_.joinable()) return;
  if (cancelled_) cancelled_->store(true);
  const pid_t child = writer_child_->load();
  if (child <= 0) {
    worker_.join();  // a small image's, soon done
    return;
  }
  // The child dies at once; its memory's teardown, and the worker's last steps, wait for no one.
  ::kill(child, SIGKILL);
  worker_.detach();
  ::unlink(QFile::encodeName(autosave_path_ + QStringLiteral(".part")).constData());
}

void RecoveryStore::remove_autosave() {
  cancel_autosave();
  if (!autosave_path_.isEmpty()) QFile::remove(autosave_path_);
  if (!previous_autosave_.isEmpty()) QFile::remove(previous_autosave_);
  autosave_path_.clear();
  previous_autosave_.clear();
}

QStringList RecoveryStore::newer_copies() const {
  const QFileInfo image(image_path_);
  const QDateTime since = !image_path_.isEmpty() && image.exists()
                              ? image.lastModified()
                              : QDateTime::fromSecsSinceEpoch(0);
  QStringList found;
  for (const QString& copy : copies()) {
    if (QFileInfo(copy).lastModified() > since) found << copy;
  }
  return found;
}

QStringList RecoveryStore::copies() const {
  QStringList found;
  const QDir dir(directory());
  const QStringList patterns{name_stem() + QStringLiteral("*.png"),
                             name_stem() + QStringLiteral("*-crash.ppm")};
  for (const QFileInfo& copy : dir.entryInfoList(patterns, QDir::Files, QDir::Time)) {
    // A journal's base is the start of a journal, not a copy of the painting.
    if (copy.fileName().contains(QStringLiteral("-journal-base"))) continue;
    found << copy.absoluteFilePath();
  }
  return found;
}

QString RecoveryStore::session_of(const QString& path) const {
  static const QRegularExpression stamp(QStringLiteral("^\\d{8}-\\d{6}-\\d{3}$"));
  const QString name = QFileInfo(path).fileName();
  if (!name.startsWith(name_stem())) return {};
  const QString session = name.mid(name_stem().size(), kSessionLength);
  return stamp.match(session).hasMatch() ? session : QString();
}

QStringList RecoveryStore::session_files(const QString& session) const {
  QStringList found;
  const QDir dir(directory());
  for (const QFileInfo& file :
       dir.entryInfoList({name_stem() + session + QLatin1Char('*')}, QDir::Files, QDir::Time)) {
    if (session_of(file.fileName()) == session) found << file.absoluteFilePath();
  }
  return found;
}

void RecoveryStore::retire_session(const QString& keep) {
  // An autosave under way holds an older painting: it is stopped, and retired with the rest.
  cancel_autosave();
  for (const QString& file : session_files(session_)) {
    if (keep.isEmpty() || !file.startsWith(keep)) QFile::remove(file);
  }
  autosave_path_.clear();
  previous_autosave_.clear();
}

QStringList RecoveryStore::journals() const {
  QStringList found;
  const QDir dir(directory());
  for (const QFileInfo& journal : dir.entryInfoList({name_stem() + QStringLiteral("*-journal.tvs")},
                                                    QDir::Files, QDir::Time)) {
    found << journal.absoluteFilePath();
  }
  return found;
}

}  // namespace tarvo
