#include "history/qt_history_store.h"

#include <zlib.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <iostream>
#include <map>
#include <string_view>

#include "recovery/qt_recovery.h"

namespace tarvo {

namespace {

constexpr std::string_view kMark = "#@ ";

std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    const std::size_t begin = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
    if (at > begin) words.push_back(line.substr(begin, at - begin));
  }
  return words;
}

QString text_of(std::string_view word) {
  return QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size()));
}

int to_int(std::string_view word) {
  return text_of(word).toInt();
}

// "SHA1 W H [FILE]" after the mark's name, the file beside the entry.
HistoryImage image_of(const std::vector<std::string_view>& words, const QString& folder,
                      bool has_file) {
  HistoryImage image;
  if (words.size() < 4) return image;
  image.sha1 = std::string(words[1]);
  image.size = QSize(to_int(words[2]), to_int(words[3]));
  if (has_file && words.size() >= 5) image.file = folder + QLatin1Char('/') + text_of(words[4]);
  return image;
}

// A pen or mouse release that ends a stroke: not a Shift+Ctrl drag, which pans or zooms.
bool ends_stroke(const std::vector<std::string_view>& words) {
  return words.size() == 5 && words[0] == verb_spec(Verb::Form_MouseUp).name && words[2] != "3";
}

// Applies one "#@" mark to the entry as read so far (inputs: the inputs before it).
void apply_mark(HistoryEntry& entry, const std::vector<std::string_view>& words,
                const QString& folder, int64_t inputs, int64_t strokes, int64_t& inputs_at_end,
                int64_t& strokes_at_end) {
  const std::string_view name = words[0];
  if (name == "started" && words.size() >= 2) {
    entry.started = QDateTime::fromString(text_of(words[1]), Qt::ISODate);
  } else if (name == "start") {
    entry.start = image_of(words, folder, true);
  } else if (name == "undo-memory" && words.size() >= 2) {
    entry.undo_bytes = static_cast<std::size_t>(text_of(words[1]).toULongLong());
  } else if (name == "paper" && words.size() >= 2) {
    HistoryHandover paper{HistoryHandover::Kind::Paper, inputs, {}};
    paper.image.file = folder + QLatin1Char('/') + text_of(words[1]);
    entry.handovers.push_back(paper);
  } else if (name == "image") {
    entry.handovers.push_back(
        {HistoryHandover::Kind::Image, inputs, image_of(words, folder, true)});
  } else if (name == "end") {
    entry.end = image_of(words, folder, false);
    if (words.size() >= 5) entry.ended = QDateTime::fromString(text_of(words[4]), Qt::ISODate);
    inputs_at_end = inputs;
    strokes_at_end = strokes;
  } else if (name == "recovered") {
    entry.recovered = true;
  }
}

struct ZStream {
  z_stream z{};
  bool open = false;
  ~ZStream() {
    if (open) inflateEnd(&z);
  }
};

}  // namespace

HistorySettings HistorySettings::read() {
  QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tarvo"),
                  QStringLiteral("tarvo"));
  HistorySettings settings;
  settings.keep = store.value(QStringLiteral("history/keep"), true).toBool();
  bool ok = false;
  const qint64 mb = store.value(QStringLiteral("history/size_limit_mb"), 2048).toLongLong(&ok);
  if (ok && mb >= 0) settings.limit_bytes = mb << 20;
  return settings;
}

namespace {

class Sha1PixelDigest : public KeptPlanes::PixelDigest {
 public:
  void add(const uint8_t* bytes, std::size_t size) override {
    hash_.addData(
        QByteArrayView(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size)));
  }
  std::string text() override { return hash_.result().toHex().toStdString(); }

 private:
  QCryptographicHash hash_{QCryptographicHash::Sha1};
};

}  // namespace

std::string pixels_checksum(const Plane& red, const Plane& green, const Plane& blue) {
  Sha1PixelDigest digest;
  for (const Plane* plane : {&red, &green, &blue}) {
    const auto width = static_cast<std::size_t>(std::max(plane->columns() - 1, 0));
    for (int32_t y = 0; y + 1 < plane->rows(); ++y) digest.add(plane->row(y), width);
  }
  return digest.text();
}

std::unique_ptr<KeptPlanes::PixelDigest> pixels_checksum_digest() {
  return std::make_unique<Sha1PixelDigest>();
}

bool read_gzip_text(const QString& path, std::string& text) {
  text.clear();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray packed = file.readAll();
  ZStream stream;
  if (inflateInit2(&stream.z, 15 + 32) != Z_OK) return false;
  stream.open = true;
  stream.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
  stream.z.avail_in = static_cast<uInt>(packed.size());
  char buffer[1 << 16];
  for (;;) {
    stream.z.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.z.avail_out = sizeof buffer;
    const int status = inflate(&stream.z, Z_NO_FLUSH);
    text.append(buffer, sizeof buffer - stream.z.avail_out);
    if (status == Z_STREAM_END) {
      // Several gzip members read as one text.
      if (stream.z.avail_in == 0) break;
      inflateReset(&stream.z);
      continue;
    }
    // A stream cut short (its writer died) ends where its bytes end.
    if (status != Z_OK) break;
  }
  return true;
}

QString write_gzip_text(const QString& path, const std::string& text) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return QStringLiteral("cannot compress it");
  }
  QByteArray packed;
  packed.resize(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(text.size()))));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(packed.data());
  z.avail_out = static_cast<uInt>(packed.size());
  const int status = deflate(&z, Z_FINISH);
  packed.resize(static_cast<qsizetype>(z.total_out));
  deflateEnd(&z);
  if (status != Z_STREAM_END) return QStringLiteral("cannot compress it");
  make_private_folder(QFileInfo(path).absolutePath());
  return write_private_file(path, packed);
}

HistoryEntry read_history_entry(const QString& path, bool inputs) {
  std::string text;
  if (!read_gzip_text(path, text)) {
    throw ScriptError(path.toStdString(), 0, "cannot read the history entry");
  }
  // A last line cut short is not part of it.
  const std::size_t whole = text.rfind('\n');
  text.resize(whole == std::string::npos ? 0 : whole + 1);

  HistoryEntry entry;
  entry.path = QFileInfo(path).absoluteFilePath();
  entry.session = QFileInfo(path).completeBaseName();
  const QString folder = QFileInfo(path).absolutePath();
  std::string input_text;
  int64_t count = 0, strokes = 0, inputs_at_end = 0, strokes_at_end = 0;
  std::size_t input_bytes_at_end = 0;
  std::string_view rest(text);
  while (!rest.empty()) {
    const std::size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest.remove_prefix(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with(kMark)) {
      const auto words = words_of(line.substr(kMark.size()));
      if (words.empty()) continue;
      apply_mark(entry, words, folder, count, strokes, inputs_at_end, strokes_at_end);
      if (words[0] == "end") input_bytes_at_end = input_text.size();
      continue;
    }
    const auto words = words_of(line.substr(0, line.find('#')));
    if (words.empty()) continue;
    ++count;
    if (ends_stroke(words)) ++strokes;
    if (inputs) {
      input_text.append(line);
      input_text += '\n';
    }
  }
  entry.strokes = strokes_at_end;
  std::erase_if(entry.handovers, [&](const HistoryHandover& h) { return h.after > inputs_at_end; });
  if (inputs) {
    input_text.resize(input_bytes_at_end);
    entry.inputs = parse_script_text(input_text, path.toStdString());
  }
  return entry;
}

HistoryStore::HistoryStore(QString key) : key_(std::move(key)) {}

QString HistoryStore::directory() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty()) data = QDir::homePath() + QStringLiteral("/.local/share");
  return data + QStringLiteral("/tarvo/history");
}

QString HistoryStore::layer_key(const QString& image_key, const QString& layer_name) {
  QString layer = layer_name.isEmpty() ? QStringLiteral("layer") : layer_name;
  for (QChar& c : layer) {
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.isSpace() || c == QLatin1Char('*') ||
        c == QLatin1Char('?') || c == QLatin1Char('[') || c == QLatin1Char(']')) {
      c = QLatin1Char('_');
    }
  }
  return image_key + QLatin1Char('-') + layer;
}

QString HistoryStore::folder() const {
  return directory() + QLatin1Char('/') + key_;
}

QStringList HistoryStore::entry_files() const {
  QDir dir(folder());
  QStringList files;
  for (const QString& name : dir.entryList({QStringLiteral("*.tvh")}, QDir::Files, QDir::Name)) {
    files.push_back(dir.filePath(name));
  }
  return files;
}

std::vector<HistoryEntry> HistoryStore::entries(bool inputs) const {
  std::vector<HistoryEntry> list;
  for (const QString& file : entry_files()) {
    try {
      HistoryEntry entry = read_history_entry(file, inputs);
      if (entry.written()) list.push_back(std::move(entry));
    } catch (const ScriptError& error) {
      std::cerr << "tarvo: " << error.what() << " (left out of the history)" << std::endl;
    }
  }
  return list;
}

QStringList HistoryStore::files_of(const QString& path) {
  const QFileInfo entry(path);
  const QString session = entry.completeBaseName();
  QDir dir(entry.absolutePath());
  QStringList files;
  for (const QString& name : dir.entryList({session + QStringLiteral("*")}, QDir::Files)) {
    if (name == entry.fileName() || name.startsWith(session + QLatin1Char('-'))) {
      files.push_back(dir.filePath(name));
    }
  }
  return files;
}

namespace {

struct StoredEntry {
  QString path;
  int64_t bytes = 0;
  bool stores_start = false;
};

struct StoredPainting {
  QString key;
  std::vector<StoredEntry> entries;  // oldest first
};

int64_t bytes_of(const QStringList& files) {
  int64_t bytes = 0;
  for (const QString& file : files) bytes += QFileInfo(file).size();
  return bytes;
}

std::vector<StoredPainting> stored_paintings(int64_t& total) {
  std::vector<StoredPainting> paintings;
  total = 0;
  QDir root(HistoryStore::directory());
  for (const QString& key : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    StoredPainting painting{key, {}};
    const HistoryStore store(key);
    for (const QString& file : store.entry_files()) {
      StoredEntry entry{file, bytes_of(HistoryStore::files_of(file)), false};
      try {
        entry.stores_start = !read_history_entry(file, false).start.file.isEmpty();
      } catch (const ScriptError&) {
        entry.stores_start = true;  // unreadable: nothing can chain to it
      }
      total += entry.bytes;
      painting.entries.push_back(entry);
    }
    if (!painting.entries.empty()) paintings.push_back(std::move(painting));
  }
  // Painted longest ago first: by their newest entry's session, which begins with its time.
  std::sort(paintings.begin(), paintings.end(), [](const auto& a, const auto& b) {
    return QFileInfo(a.entries.back().path).fileName() <
           QFileInfo(b.entries.back().path).fileName();
  });
  return paintings;
}

// The oldest entries of the painting that can go together: the first, and the entries after it
// that start from the one before. None when they would take keep with them.
std::size_t droppable_run(const StoredPainting& painting, const QString& keep) {
  std::size_t n = 0;
  while (n < painting.entries.size()) {
    if (painting.entries[n].path == keep) return 0;
    ++n;
    if (n < painting.entries.size() && painting.entries[n].stores_start) break;
  }
  return n;
}

QString day_of(const QString& entry_path) {
  const QString session = QFileInfo(entry_path).completeBaseName();
  const QDateTime time = QDateTime::fromString(session.left(15), QStringLiteral("yyyyMMdd-hhmmss"));
  return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd")) : session;
}

}  // namespace

int64_t history_bytes() {
  int64_t total = 0;
  QDirIterator it(HistoryStore::directory(), QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) total += QFileInfo(it.next()).size();
  return total;
}

int enforce_history_limit(int64_t limit_bytes, const QString& keep) {
  // Each write-back comes here: while the history is within its limit, the sizes of its files are
  // all it takes to know, and no entry is read.
  if (history_bytes() <= limit_bytes) return 0;
  int64_t total = 0;
  std::vector<StoredPainting> paintings = stored_paintings(total);
  int dropped_total = 0;
  for (StoredPainting& painting : paintings) {
    int dropped = 0;
    QString first, last;
    while (total > limit_bytes) {
      const std::size_t run = droppable_run(painting, keep);
      if (run == 0) break;
      for (std::size_t i = 0; i < run; ++i) {
        const StoredEntry& entry = painting.entries[i];
        for (const QString& file : HistoryStore::files_of(entry.path)) QFile::remove(file);
        total -= entry.bytes;
        if (first.isEmpty()) first = entry.path;
        last = entry.path;
        ++dropped;
      }
      painting.entries.erase(painting.entries.begin(),
                             painting.entries.begin() + static_cast<std::ptrdiff_t>(run));
    }
    if (dropped > 0) {
      std::cerr << "tarvo: the painting history is over its limit of " << (limit_bytes >> 20)
                << " MB: dropped the " << dropped << " oldest session" << (dropped > 1 ? "s" : "")
                << " of " << painting.key.toStdString() << ", painted "
                << day_of(first).toStdString()
                << (day_of(first) == day_of(last) ? std::string()
                                                  : " to " + day_of(last).toStdString())
                << std::endl;
      if (painting.entries.empty()) QDir(HistoryStore(painting.key).folder()).removeRecursively();
      dropped_total += dropped;
    }
    if (total <= limit_bytes) break;
  }
  return dropped_total;
}

}  // namespace tarvo
