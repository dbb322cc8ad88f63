#include "history/qt_history_log.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <span>
#include <vector>

#include "core/runtime_error.h"
#include "file/qt_png_file.h"
#include "recovery/qt_recovery.h"

namespace tarvo {

namespace {

constexpr auto kSyncInterval = std::chrono::seconds(1);
constexpr auto kWriteGap = std::chrono::milliseconds(20);

QString now_text() {
  return QDateTime::currentDateTime().toString(Qt::ISODate);
}

std::string size_words(QSize size) {
  return std::to_string(size.width()) + " " + std::to_string(size.height());
}

QImage paper_picture(const Plane& texture, int32_t width, int32_t height) {
  QImage picture(width, height, QImage::Format_Grayscale8);
  for (int32_t y = 0; y < height; ++y) {
    std::memcpy(picture.scanLine(y), texture.row(y), static_cast<std::size_t>(width));
  }
  return picture;
}

// The end checksum of the newest entry of the painting with a write-back; empty when none.
std::string last_end_of(const QString& folder) {
  QStringList files = HistoryStore(QFileInfo(folder).fileName()).entry_files();
  for (auto it = files.crbegin(); it != files.crend(); ++it) {
    try {
      const HistoryEntry entry = read_history_entry(*it, false);
      if (entry.written()) return entry.end.sha1;
    } catch (const ScriptError&) {
    }
  }
  return {};
}

// The pixels_checksum of an image handed over: from its copy, or taken by the child keeping it.
std::string image_checksum(const HandedImage& image) {
  if (image.kept) return image.kept->pixel_digest();
  return pixels_checksum(image.copy.red, image.copy.green, image.copy.blue);
}
}  // namespace

struct HistoryLog::Stream {
  z_stream z{};
  int fd = -1;
  ~Stream() {
    deflateEnd(&z);
    if (fd >= 0) ::close(fd);
  }
};

HistoryLog::HistoryLog(const HistoryStore& store, QString session, HistorySettings settings,
                       std::size_t undo_bytes)
    : folder_(store.folder()),
      session_(std::move(session)),
      settings_(settings),
      undo_bytes_(undo_bytes) {
  // A process that runs more than one session numbers the later ones.
  QString stem = session_;
  for (int n = 2; QFileInfo::exists(folder_ + QLatin1Char('/') + stem + QStringLiteral(".tvh"));
       ++n) {
    stem = session_ + QLatin1Char('.') + QString::number(n);
  }
  path_ = folder_ + QLatin1Char('/') + stem + QStringLiteral(".tvh");
  writer_ = std::thread([this] { run(); });
}

HistoryLog::~HistoryLog() {
  finish(false);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
}

void HistoryLog::push(Item item, bool wake) {
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(item));
    if (wake) sync_asked_ = true;
  }
  if (wake) wake_.notify_one();
}

void HistoryLog::start(HandedImage image, QString file, std::string file_sha1) {
  Item item;
  item.kind = Kind::Start;
  item.image = std::move(image);
  item.file = std::move(file);
  item.file_sha1 = std::move(file_sha1);
  push(std::move(item), true);
}

void HistoryLog::paper(Plane texture, int32_t width, int32_t height) {
  Item item;
  item.kind = Kind::Paper;
  item.paper = std::move(texture);
  item.paper_width = width;
  item.paper_height = height;
  push(std::move(item), true);
}

void HistoryLog::image(HandedImage image) {
  Item item;
  item.kind = Kind::Image;
  item.image = std::move(image);
  push(std::move(item), true);
}

void HistoryLog::record(Verb verb, std::initializer_list<double> args) {
  Input input;
  input.verb = verb;
  input.arg_count = static_cast<uint8_t>(std::min(args.size(), input.args.size()));
  std::copy_n(args.begin(), input.arg_count, input.args.begin());
  ++inputs_;
  std::lock_guard lock(mutex_);
  if (pending_.empty() || pending_.back().kind != Kind::Inputs) pending_.emplace_back();
  pending_.back().inputs.push_back(input);
}

void HistoryLog::sync_soon() {
  {
    std::lock_guard lock(mutex_);
    sync_asked_ = true;
  }
  wake_.notify_one();
}

void HistoryLog::written(std::string planes_sha1, QSize size) {
  Item item;
  item.kind = Kind::Written;
  item.planes_sha1 = std::move(planes_sha1);
  item.size = size;
  push(std::move(item), true);
}

void HistoryLog::recovering(RecoveredHistory recovered) {
  Item item;
  item.kind = Kind::Recovering;
  item.recovered = std::move(recovered);
  push(std::move(item), false);
}

void HistoryLog::finish(bool keep_unwritten) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    Item item;
    item.kind = Kind::Finish;
    item.keep_unwritten = keep_unwritten;
    pending_.push_back(std::move(item));
    sync_asked_ = true;
  }
  wake_.notify_one();
  flush();
}

void HistoryLog::flush() {
  std::unique_lock lock(mutex_);
  sync_asked_ = true;
  wake_.notify_one();
  done_.wait(lock, [this] { return pending_.empty() && !busy_; });
}

void HistoryLog::run() {
  // Painting comes first: the writer takes what a busy machine leaves over.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, kSyncInterval, [this] { return stopping_ || sync_asked_; });
    if (stopping_ && pending_.empty()) break;
    std::deque<Item> work;
    work.swap(pending_);
    sync_asked_ = false;
    busy_ = true;
    lock.unlock();
    bool wrote = false;
    for (Item& item : work) {
      wrote |= item.kind == Kind::Inputs;
      handle(item);
    }
    if (wrote && stream_ && !finished_ && !failed_) deflate_text({}, Z_SYNC_FLUSH);
    lock.lock();
    busy_ = false;
    done_.notify_all();
    // Strokes that end in quick succession share a write.
    wake_.wait_for(lock, kWriteGap, [this] { return stopping_; });
  }
  busy_ = false;
  done_.notify_all();
}

void HistoryLog::handle(Item& item) {
  if (failed_ || finished_) return;
  switch (item.kind) {
    case Kind::Start:
      if (!stream_) begin(item);
      item.image = HandedImage{};  // not held while the rest of the batch is written
      break;
    case Kind::Inputs:
      if (stream_) add_inputs(item.inputs);
      break;
    case Kind::Paper:
      add_paper(item);
      break;
    case Kind::Image:
      if (stream_) add_image(item.image);
      item.image = HandedImage{};
      break;
    case Kind::Written:
      if (stream_ && !item.planes_sha1.empty()) add_end(item.planes_sha1, item.size);
      break;
    case Kind::Recovering:
      recovered_ = item.recovered;
      if (stream_) deflate_text("#@ recovered\n", Z_NO_FLUSH);
      break;
    case Kind::Finish:
      end_stream(item.keep_unwritten);
      break;
  }
}

bool HistoryLog::begin(const Item& item) {
  const HandedImage& image = item.image;
  make_private_folder(folder_);
  start_sha1_ = image_checksum(image);
  start_size_ = image.size;
  if (start_sha1_.empty()) {
    fail(QStringLiteral("cannot take the checksum of its start picture"));
    return false;
  }
  const std::string previous_end = last_end_of(folder_);

  auto stream = std::make_unique<Stream>();
  if (deflateInit2(&stream->z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    fail(QStringLiteral("cannot compress it"));
    return false;
  }
  const QByteArray name = QFile::encodeName(path_);
  stream->fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (stream->fd < 0) {
    fail(QStringLiteral("cannot create it: ") + QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  ::fchmod(stream->fd, 0600);
  stream_ = std::move(stream);

  std::string start_file;
  // Near the size limit the entry keeps its start even where it chains, so that the entries
  // before it can be dropped.
  const bool near_limit = history_bytes() > settings_.limit_bytes / 10 * 9;
  if (start_sha1_ != previous_end || near_limit) {
    QString stored;
    if (!item.file_sha1.empty()) stored = store_file_copy(item.file, item.file_sha1);
    if (stored.isEmpty() && !failed_) stored = store_image(image, QStringLiteral("-start.png"));
    start_file = stored.toStdString();
    if (failed_) return false;
  }
  const std::string started = now_text().toStdString();
  std::string header = "# Tarvo " TARVO_VERSION " history of a session, started " + started +
                       "\n#@ started " + started + "\n#@ start " + start_sha1_ + " " +
                       size_words(start_size_) + (start_file.empty() ? "" : " " + start_file) +
                       "\n";
  if (!pending_paper_.empty()) header += "#@ paper " + pending_paper_ + "\n";
  if (undo_bytes_ > 0) header += "#@ undo-memory " + std::to_string(undo_bytes_) + "\n";
  return deflate_text(header, Z_SYNC_FLUSH);
}

void HistoryLog::add_inputs(const std::vector<Input>& inputs) {
  std::string text;
  text.reserve(inputs.size() * 32);
  for (const Input& input : inputs) {
    text += format_line(input.verb, std::span<const double>(input.args.data(), input.arg_count));
    text += '\n';
  }
  deflate_text(text, Z_NO_FLUSH);
}

void HistoryLog::add_paper(const Item& item) {
  if (item.paper_width <= 0 || item.paper_height <= 0) return;
  if (!stream_) make_private_folder(folder_);
  const QString suffix = QStringLiteral("-paper-%1.png").arg(papers_++);
  const QString file =
      store_picture(paper_picture(item.paper, item.paper_width, item.paper_height), suffix);
  if (failed_) return;
  if (!stream_) {
    pending_paper_ = file.toStdString();
    return;
  }
  deflate_text("#@ paper " + file.toStdString() + "\n", Z_NO_FLUSH);
}

void HistoryLog::add_image(const HandedImage& image) {
  const std::string sha1 = image_checksum(image);
  if (sha1.empty()) {
    fail(QStringLiteral("cannot take the checksum of a fetched picture"));
    return;
  }
  const QString file = store_image(image, QStringLiteral("-image-%1.png").arg(++images_));
  if (failed_) return;
  deflate_text("#@ image " + sha1 + " " + size_words(image.size) + " " + file.toStdString() + "\n",
               Z_NO_FLUSH);
}

void HistoryLog::add_end(const std::string& planes_sha1, QSize size) {
  if (!deflate_text(
          "#@ end " + planes_sha1 + " " + size_words(size) + " " + now_text().toStdString() + "\n",
          Z_FULL_FLUSH)) {
    return;
  }
  ::fdatasync(stream_->fd);
  const bool first = !ended_;
  ended_ = true;
  if (first && !recovered_.entry.isEmpty()) complete_recovered();
  enforce_history_limit(settings_.limit_bytes, path_);
}

// The crashed session's entry ends where the journal that this session's painting was recovered
// from began: the image this session started from.
void HistoryLog::complete_recovered() {
  const QString entry = recovered_.entry;
  std::string text;
  if (!QFileInfo::exists(entry) || entry == path_ || !read_gzip_text(entry, text)) return;
  std::size_t at = 0, cut = std::string::npos;
  int64_t inputs = 0;
  bool painted = false;
  while (at < text.size()) {
    const std::size_t eol = text.find('\n', at);
    if (eol == std::string::npos) break;
    const std::string_view line(text.data() + at, eol - at);
    const bool input = !line.empty() && line[0] != '#';
    if (input && inputs == recovered_.inputs) {
      cut = at;
      break;
    }
    if (input) ++inputs;
    if (const VerbSpec* spec = input ? find_verb(line.substr(0, line.find(' '))) : nullptr) {
      painted |= spec->verb == Verb::Form_MouseDown || spec->verb == Verb::kv_button2_Click ||
                 spec->verb == Verb::kv_button3_Click;
    }
    at = eol + 1;
  }
  if (inputs < recovered_.inputs) return;  // it lost inputs: it keeps the end it had
  if (!painted) {
    // Everything it painted is in this session's entry.
    for (const QString& file : HistoryStore::files_of(entry)) QFile::remove(file);
    return;
  }
  text.resize(cut == std::string::npos ? at : cut);
  const QString when = QFileInfo(entry).lastModified().toString(Qt::ISODate);
  text += "#@ end " + start_sha1_ + " " + size_words(start_size_) + " " + when.toStdString() +
          "\n#@ recovered\n";
  const QString error = write_gzip_text(entry, text);
  if (!error.isEmpty()) {
    std::cerr << "tarvo: cannot complete the history entry " << entry.toStdString() << ": "
              << error.toStdString() << std::endl;
  }
}

void HistoryLog::end_stream(bool keep_unwritten) {
  finished_ = true;
  if (!stream_) return;
  deflate_text({}, Z_FINISH);
  ::fdatasync(stream_->fd);
  stream_.reset();
  if (!ended_ && !keep_unwritten) {
    for (const QString& file : HistoryStore::files_of(path_)) QFile::remove(file);
  }
}

bool HistoryLog::deflate_text(const std::string& text, int flush) {
  if (failed_ || !stream_) return false;
  z_stream& z = stream_->z;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  unsigned char buffer[1 << 15];
  do {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    deflate(&z, flush);
    std::size_t left = sizeof buffer - z.avail_out;
    const unsigned char* bytes = buffer;
    while (left > 0) {
      const ssize_t n = ::write(stream_->fd, bytes, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fail(QStringLiteral("cannot write it: ") +
             QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC)));
        return false;
      }
      bytes += n;
      left -= static_cast<std::size_t>(n);
    }
  } while (z.avail_out == 0);
  return true;
}

QString HistoryLog::store_picture(const QImage& picture, const QString& suffix) {
  const QString name = QFileInfo(path_).completeBaseName() + suffix;
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  QString error = picture.save(&buffer, "png") ? QString() : QStringLiteral("cannot encode it");
  if (error.isEmpty()) error = write_private_file(folder_ + QLatin1Char('/') + name, png);
  if (!error.isEmpty()) fail(QStringLiteral("cannot write ") + name + QStringLiteral(": ") + error);
  return name;
}

QString HistoryLog::store_planes(const HostImage& planes, const QString& suffix) {
  const QString name = QFileInfo(path_).completeBaseName() + suffix;
  QString error;
  try {
    // This thread alone: the row helper is the pointer thread's.
    const QByteArray png = encode_png_file(planes, QImage(), ImageFileTraits{}, nullptr);
    error = write_private_file(folder_ + QLatin1Char('/') + name, png);
  } catch (const RuntimeError& e) {
    error = QString::fromUtf8(e.what());
  }
  if (!error.isEmpty()) fail(QStringLiteral("cannot write ") + name + QStringLiteral(": ") + error);
  return name;
}

QString HistoryLog::store_image(const HandedImage& image, const QString& suffix) {
  if (!image.kept) return store_planes(image.copy, suffix);
  const QString name = QFileInfo(path_).completeBaseName() + suffix;
  const QByteArray target = QFile::encodeName(folder_ + QLatin1Char('/') + name);
  const QByteArray temporary = target + ".part";
  const KeptPlanes::Written written = image.kept->write_png(temporary.toStdString());
  int error = written.checksum.empty() ? (written.error != 0 ? written.error : EIO) : 0;
  if (error == 0) {
    // The child wrote it; it is made durable and takes its name here.
    const int fd = ::open(temporary.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0 || ::rename(temporary.constData(), target.constData()) != 0) {
      error = errno;
    }
    if (fd >= 0) ::close(fd);
  }
  if (error != 0) {
    ::unlink(temporary.constData());
    fail(QStringLiteral("cannot write ") + name + QStringLiteral(": ") +
         QString::fromLocal8Bit(std::strerror(error)));
  }
  return name;
}

QString HistoryLog::store_file_copy(const QString& file, const std::string& sha1) {
  const QString suffix = QFileInfo(file).suffix();
  const QString name = QFileInfo(path_).completeBaseName() + QStringLiteral("-start") +
                       (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix.toLower());
  const QByteArray target = QFile::encodeName(folder_ + QLatin1Char('/') + name);
  const QByteArray temporary = target + ".part";
  const int from = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return {};
  const int to = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (to < 0) {
    ::close(from);
    return {};
  }
  ::fchmod(to, 0600);
  QCryptographicHash hash(QCryptographicHash::Sha1);
  std::vector<char> piece(std::size_t{4} << 20);
  bool ok = true;
  for (;;) {
    ssize_t got = ::read(from, piece.data(), piece.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    hash.addData(QByteArrayView(piece.data(), got));
    for (const char* at = piece.data(); got > 0 && ok;) {
      const ssize_t put = ::write(to, at, static_cast<std::size_t>(got));
      if (put < 0 && errno == EINTR) continue;
      ok = put > 0;
      at += put;
      got -= put;
    }
    if (!ok) break;
  }
  ::close(from);
  ok = ok && hash.result().toHex().toStdString() == sha1 && ::fsync(to) == 0;
  ok = ::close(to) == 0 && ok;
  if (!ok || ::rename(temporary.constData(), target.constData()) != 0) {
    // Not the file the host vouched for (changed meanwhile), or not written: the caller encodes.
    ::unlink(temporary.constData());
    return {};
  }
  return name;
}

void HistoryLog::fail(const QString& what) {
  if (failed_) return;
  failed_ = true;
  std::cerr << "tarvo: the painting history " << path_.toStdString() << ": " << what.toStdString()
            << "; painting goes on without keeping this session" << std::endl;
  stream_.reset();
  for (const QString& file : HistoryStore::files_of(path_)) QFile::remove(file);
}

}  // namespace tarvo
