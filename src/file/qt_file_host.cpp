#include "file/qt_file_host.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <algorithm>
#include <cstring>
#include <future>
#include <iostream>
#include <system_error>

#include "render/paper_grain.h"
#include "appearance/qt_data_files.h"
#include "file/qt_progress.h"
#include "recovery/qt_recovery.h"
#include "canvas/row_split.h"
#include "app/runtime_error.h"
#include "canvas/canvas_window.h"

namespace tarvo {

namespace {

[[noreturn]] void fail(int number, const QString& what) {
  throw RuntimeError(number, what.toStdString());
}

QString backup_path(const QString& path) {
  return path + QLatin1Char('~');
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
    fail(error_number::kBadFileFormat,
         QStringLiteral("cannot create %1: %2 files can be read but not written")
             .arg(display_name(path), QString::fromLatin1(suffix)));
  }
  return fallback;
}

bool same_file(const QString& a, const QString& b) {
  return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

bool is_black_and_white(const HostImage& image) {
  if (!is_grey(image)) return false;
  for (int32_t y = 0; y < image.height(); ++y) {
    const uint8_t* row = image.red.row(y);
    for (int32_t x = 0; x < image.width(); ++x) {
      if (row[x] != 0 && row[x] != 255) return false;
    }
  }
  return true;
}

// A copy of plane; a large one is copied by two threads, since mapping the fresh copy's pages
// is more than one core keeps up with.
Plane copy_of(const Plane& plane) {
  Plane copy(plane.columns(), plane.rows());
  const int32_t columns = plane.columns();
  share_rows_with_helper(plane.rows(), columns, [&](int32_t begin, int32_t end) {
    std::memcpy(copy.row(begin), plane.row(begin),
                static_cast<std::size_t>(end - begin) * static_cast<std::size_t>(columns));
  });
  return copy;
}

// Starts making the built-in paper grain on a helper thread, so that it is ready when the image
// file has been decoded: start-up asks for the paper right after. An empty future when the paper
// comes from a file, or when no thread can be had (the grain is then made when first asked for).
std::future<Plane> built_in_grain_ahead(const FileHostOptions& options) {
  if (!options.paper_path.isEmpty()) return {};
  try {
    return std::async(std::launch::async, [] {
      return make_paper_grain(kPaperGrainSize, kPaperGrainSize, kPaperGrainSeed);
    });
  } catch (const std::system_error&) {
    return {};
  }
}

// The plane cut or extended to columns x rows; the new bytes are fill.
Plane refit(const Plane& plane, int32_t columns, int32_t rows, uint8_t fill) {
  Plane result(columns, rows);
  result.fill(fill);
  for (int32_t y = 0; y < std::min(rows, plane.rows()); ++y) {
    std::copy_n(plane.row(y), std::min(columns, plane.columns()), result.row(y));
  }
  return result;
}

}  // namespace

FileHost::FileHost(FileHostOptions options)
    : options_(std::move(options)), limits_(machine_image_limits()) {
  const QString& path = options_.image_path;
  if (path.isEmpty()) fail(error_number::kFileNotFound, QStringLiteral("no image file given"));
  if (!options_.output_path.isEmpty() && same_file(options_.output_path, path)) {
    options_.output_path.clear();
  }
  if (QFileInfo::exists(path)) {
    std::future<Plane> grain = built_in_grain_ahead(options_);  // made while the file decodes
    // Start-up takes the three planes right after this: their copies are made in the same pass.
    ImageFile file;
    run_with_progress(QStringLiteral("Reading %1 ...").arg(display_name(path)),
                      [&] { file = read_image_file(path, limits_, PlaneCopy::kColourPlanes); });
    image_ = std::move(file.image);
    ready_copies_ = std::move(file.copy);
    traits_ = std::move(file.traits);
    file_is_original_ = options_.output_path.isEmpty();
    remember_file_stamp();
    if (grain.valid()) paper_ = grain.get();
  } else {
    start_new_image();
  }
  if (!options_.output_path.isEmpty()) {
    traits_.format = format_for_suffix(options_.output_path, traits_.format);
  }
  check_write_target();
}

// A file that could never be written is named now, before anything is painted: a missing folder
// is an error, a format Qt only reads a warning (the image can still be looked at and painted).
void FileHost::check_write_target() const {
  const QFileInfo target(write_path());
  if (!target.absoluteDir().exists()) {
    fail(error_number::kFileNotFound,
         QStringLiteral("cannot create %1: there is no folder %2")
             .arg(display_name(write_path()), display_name(target.absolutePath())));
  }
  if (!is_writable_format(traits_.format)) {
    std::cerr << "tarvo: " << display_name(write_path()).toStdString() << ": "
              << traits_.format.toStdString()
              << " files can be read but not written; sending the image back will fail\n";
  }
}

void FileHost::start_new_image() {
  const QSize size = options_.new_image_size;
  const std::string refusal = image_size_refusal(size.width(), size.height(), limits_);
  if (!refusal.empty()) {
    fail(error_number::kOutOfMemory,
         QStringLiteral("cannot create %1: %2")
             .arg(display_name(options_.image_path), QString::fromStdString(refusal)));
  }
  traits_.format = format_for_suffix(write_path(), QByteArrayLiteral("png"));
  image_ = white_image(size.width(), size.height());
  ready_copies_ = HostImage{};
}

const QString& FileHost::write_path() const {
  return options_.output_path.isEmpty() ? options_.image_path : options_.output_path;
}

void FileHost::load_paper() {
  if (!options_.paper_path.isEmpty()) {
    paper_ = read_luminance_file(options_.paper_path, limits_);
  } else if (paper_.empty()) {
    paper_ = make_paper_grain(kPaperGrainSize, kPaperGrainSize, kPaperGrainSeed);
  }
}

int32_t FileHost::Wik_GetPaperWidth() {
  load_paper();
  return paper_.columns();
}

int32_t FileHost::wik_GetPaperHeight() {
  if (paper_.empty()) load_paper();
  return paper_.rows();
}

Plane FileHost::Wik_GetPaper() {
  if (paper_.empty()) load_paper();
  return paper_.copy();
}

void FileHost::remember_file_stamp() {
  const QFileInfo info(options_.image_path);
  file_time_ = info.exists() ? info.lastModified() : QDateTime();
  file_size_ = info.exists() ? info.size() : -1;
}

void FileHost::follow_file_on_disk() {
  QFileInfo info(options_.image_path);
  info.refresh();
  if (!info.exists() || (info.lastModified() == file_time_ && info.size() == file_size_)) return;
  try {
    // No ready copies here: the size check at close reads the file again too, and never takes
    // the planes.
    ImageFile file;
    run_with_progress(QStringLiteral("Reading %1 ...").arg(display_name(options_.image_path)),
                      [&] { file = read_image_file(options_.image_path, limits_); });
    image_ = std::move(file.image);
    ready_copies_ = HostImage{};
    traits_ = std::move(file.traits);
    if (!options_.output_path.isEmpty()) {
      traits_.format = format_for_suffix(options_.output_path, traits_.format);
    }
    file_is_original_ = options_.output_path.isEmpty();
    backup_is_original_ = keep_backup_ = false;
  } catch (const RuntimeError& error) {
    // Half-written by the other program, perhaps: the host keeps the image it had.
    std::cerr << "tarvo: " << error.what() << "; keeping the image as it was\n";
  }
  remember_file_stamp();
}

int32_t FileHost::Wik_BufferWidth() {
  follow_file_on_disk();
  return image_.width();
}
int32_t FileHost::Wik_BufferHeight() {
  return image_.height();
}
Plane FileHost::Wik_GetRBuffer() {
  // The green and blue planes that follow come from the same reading.
  follow_file_on_disk();
  return hand_out(ready_copies_.red, image_.red);
}
Plane FileHost::Wik_GetGBuffer() {
  return hand_out(ready_copies_.green, image_.green);
}
Plane FileHost::Wik_GetBBuffer() {
  return hand_out(ready_copies_.blue, image_.blue);
}

Plane FileHost::hand_out(Plane& ready, const Plane& own) {
  if (ready.empty()) return copy_of(own);
  Plane handed = std::move(ready);
  ready = Plane();  // a moved-from plane keeps its shape but not its bytes
  return handed;
}

void FileHost::adopt(Plane& own, const Plane& plane, const char* method) {
  if (plane.columns() < 2 || plane.rows() < 2) {
    fail(error_number::kHostCallFailed,
         QStringLiteral("%1: a plane of %2 x %3 bytes holds no image (one spare column and row "
                        "are expected)")
             .arg(QLatin1String(method))
             .arg(plane.columns())
             .arg(plane.rows()));
  }
  ready_copies_ = HostImage{};  // copies of the image as it was
  own.assign(plane);
}

void FileHost::Wik_SetRbuffer(const Plane& plane) {
  adopt(image_.red, plane, "Wik_SetRbuffer");
}
void FileHost::Wik_SetGbuffer(const Plane& plane) {
  adopt(image_.green, plane, "Wik_SetGbuffer");
}
void FileHost::Wik_SetBbuffer(const Plane& plane) {
  adopt(image_.blue, plane, "Wik_SetBbuffer");
}

void FileHost::Wik_SaveUndo() {
  if (keep_backup_ || !QFileInfo::exists(write_path())) return;
  copy_file_to_backup();
  backup_is_original_ = file_is_original_;
}

void FileHost::copy_file_to_backup() {
  const QString& path = write_path();
  const QString backup = backup_path(path);
  const auto fail_backup = [&](const QString& reason) {
    fail(error_number::kHostCallFailed, QStringLiteral("cannot keep a backup of %1 as %2: %3")
                                            .arg(display_name(path), display_name(backup), reason));
  };
  QFile source(path);
  if (!source.open(QIODevice::ReadOnly)) fail_backup(source.errorString());
  QSaveFile copy(backup);
  if (!copy.open(QIODevice::WriteOnly)) fail_backup(copy.errorString());
  while (!source.atEnd()) {
    const QByteArray chunk = source.read(1 << 20);
    if (chunk.isEmpty() && source.error() != QFileDevice::NoError) {
      copy.cancelWriting();
      fail_backup(source.errorString());
    }
    if (copy.write(chunk) != chunk.size()) fail_backup(copy.errorString());
  }
  if (!copy.commit()) fail_backup(copy.errorString());
}

QString FileHost::write_loss() const {
  const QByteArray& format = traits_.format;
  if (traits_.bits_per_channel > 8) {
    return QStringLiteral("its %1-bit channels are written with 8 bits")
        .arg(traits_.bits_per_channel);
  }
  if (traits_.image_count > 1) {
    return QStringLiteral("only the first of its %1 images is written").arg(traits_.image_count);
  }
  if (format == "jpeg" || format == "jpg") {
    return QStringLiteral("JPEG compression loses detail each time the picture is written");
  }
  if ((format == "pbm" || format == "xbm") && !is_black_and_white(image_)) {
    return QStringLiteral("a %1 file holds only black and white").arg(QString::fromLatin1(format));
  }
  if (format == "pgm" && !is_grey(image_)) {
    return QStringLiteral("a pgm file holds only grey levels");
  }
  return QString();
}

void FileHost::keep_original_before_losing(const QString& loss) {
  if (loss.isEmpty() || !file_is_original_ || keep_backup_) return;
  if (!backup_is_original_) copy_file_to_backup();
  backup_is_original_ = true;
  keep_backup_ = true;
}

bool FileHost::commit_image(QSaveFile& file) {
  return file.commit();
}

void FileHost::write_image_file() {
  const QString& path = write_path();
  const auto fail_write = [&](const QString& reason) {
    fail(error_number::kHostCallFailed,
         QStringLiteral("cannot write %1: %2").arg(display_name(path), reason));
  };
  if (!is_writable_format(traits_.format)) {
    fail_write(QStringLiteral("%1 files can be read but not written")
                   .arg(QString::fromLatin1(traits_.format)));
  }
  const QImage picture = compose_picture(image_, traits_);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) fail_write(file.errorString());
  const QString error = encode_picture(picture, traits_.format, file);
  if (!error.isEmpty()) {
    file.cancelWriting();
    fail_write(error);
  }
  if (!commit_image(file)) fail_write(file.errorString());
  if (options_.output_path.isEmpty()) remember_file_stamp();
}

void FileHost::write_or_recover() {
  try {
    run_with_progress(QStringLiteral("Writing %1 ...").arg(display_name(write_path())),
                      [this] { write_image_file(); });
  } catch (const RuntimeError& error) {
    try {
      const QString copy = RecoveryStore(options_.image_path).write_planes(image_.red, image_.green,
                                                                            image_.blue);
      std::cerr << "tarvo: " << error.what() << "\ntarvo: the image is saved as "
                << copy.toStdString() << "\n";
    } catch (const RuntimeError& also) {
      std::cerr << "tarvo: " << error.what() << "\ntarvo: " << also.what() << "\n";
    }
    throw;
  }
}

void FileHost::wik_Refresh() {
  const Plane& red = image_.red;
  for (const Plane* plane : {&image_.green, &image_.blue}) {
    if (plane->columns() != red.columns() || plane->rows() != red.rows()) {
      fail(error_number::kHostCallFailed,
           QStringLiteral("cannot write %1: the red, green and blue planes differ in size")
               .arg(display_name(write_path())));
    }
  }
  // The alpha channel is not painted; after a change of size it is cut or extended opaque.
  if (!image_.alpha.empty() &&
      (image_.alpha.columns() != red.columns() || image_.alpha.rows() != red.rows())) {
    image_.alpha = refit(image_.alpha, red.columns(), red.rows(), 255);
  }
  const QString loss = file_is_original_ ? write_loss() : QString();
  keep_original_before_losing(loss);
  write_or_recover();
  file_is_original_ = false;
  if (!loss.isEmpty()) {
    const std::string name = display_name(write_path()).toStdString();
    std::cerr << "tarvo: " << name << ": " << loss.toStdString() << "; the original is kept as "
              << name << "~\n";
  }
}

std::string FileHost::Wik_WallpaperFilename() {
  const QString& chosen = options_.wallpaper_path;
  return (chosen.isEmpty() ? tarvo_data_file(QStringLiteral("wallpaper.png")) : chosen)
      .toStdString();
}

void FileHost::Wik_SendFormObject(CanvasWindow& form, int16_t /*flags*/) {
  form.show_window();
}

void register_file_host(HostRegistry& registry, FileHostOptions options) {
  registry.register_host(kHostProgId, [options = std::move(options)]() -> std::unique_ptr<Host> {
    return std::make_unique<FileHost>(options);
  });
}

}  // namespace tarvo
