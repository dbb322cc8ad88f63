#include "file/qt_file_host.h"

#include <QApplication>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <algorithm>
#include <cstring>
#include <future>
#include <iostream>
#include <system_error>
#include <utility>

#include "appearance/qt_data_files.h"
#include "canvas/row_split.h"
#include "core/canvas_window.h"
#include "core/runtime_error.h"
#include "file/qt_file_formats.h"
#include "file/qt_progress.h"
#include "recovery/qt_recovery.h"
#include "render/paper_grain.h"

namespace tarvo {

namespace {

// A copy of plane; a large one is copied by two threads, since mapping the fresh copy's pages
// is more than one core keeps up with.
Plane copy_of(const Plane& plane, RowHelper* helper) {
  Plane copy(plane.columns(), plane.rows());
  const int32_t columns = plane.columns();
  share_rows_with_helper(helper, plane.rows(), columns, [&](int32_t begin, int32_t end) {
    std::memcpy(copy.row(begin), plane.row(begin),
                static_cast<std::size_t>(end - begin) * static_cast<std::size_t>(columns));
  });
  return copy;
}

}  // namespace

RowDigests row_digests(const Plane& plane, RowHelper* helper) {
  const int32_t width = plane.columns() - 1, height = plane.rows() - 1;
  RowDigests digests(static_cast<std::size_t>(std::max(height, 0)));
  share_rows_with_helper(helper, height, width, [&](int32_t begin, int32_t end) {
    for (int32_t y = begin; y < end; ++y) {
      digests[static_cast<std::size_t>(y)] = row_digest(plane.row(y), width);
    }
  });
  return digests;
}

namespace {

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

}  // namespace

FileHost::FileHost(FileHostOptions options)
    : options_(std::move(options)), limits_(machine_image_limits()) {
  const QString& path = options_.image_path;
  if (path.isEmpty())
    raise_file_error(error_number::kFileNotFound, QStringLiteral("no image file given"));
  if (!options_.output_path.isEmpty() && same_file(options_.output_path, path)) {
    options_.output_path.clear();
  }
  if (QFileInfo::exists(path)) {
    std::future<Plane> grain = built_in_grain_ahead(options_);  // made while the file decodes
    // Start-up takes the three planes right after this: their copies are made in the same pass.
    ImageFile file;
    run_with_progress(
        *options_.presence, window_, QStringLiteral("Reading %1 ...").arg(display_name(path)), [&] {
          // A plain picture read from the file it is written to is lent to the canvas instead.
          const PlaneCopy copy =
              options_.output_path.isEmpty() ? PlaneCopy::kLent : PlaneCopy::kColourPlanes;
          file = read_image_file(path, limits_, copy, options_.helper);
        });
    take_file(std::move(file), path);
    file_is_original_ = options_.output_path.isEmpty();
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
    raise_file_error(error_number::kFileNotFound,
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
    raise_file_error(error_number::kOutOfMemory,
                     QStringLiteral("cannot create %1: %2")
                         .arg(display_name(options_.image_path), QString::fromStdString(refusal)));
  }
  traits_.format = format_for_suffix(write_path(), QByteArrayLiteral("png"));
  image_ = white_image(size.width(), size.height());
  ready_copies_ = HostImage{};
  lendable_ = false;
  unwritten_ = true;  // the new image is written on the first send or close, painted or not
}

// The file becomes the host's image. The stamp is that of the file the host writes to only when it
// is the file read.
void FileHost::take_file(ImageFile file, const QString& path) {
  image_ = std::move(file.image);
  deep_ = std::move(file.deep);
  lendable_ = same_file(path, write_path()) && image_.alpha.empty() && deep_.isNull();
  lent_ = {};
  lent_digests_ = {};
  // Transparent pixels are handed out over white, which the copies made while reading are not.
  // Planes that are lent need no copies.
  ready_copies_ = image_.alpha.empty() && !lendable_ ? std::move(file.copy) : HostImage{};
  read_digests_ = lendable_ ? std::move(file.digests) : std::array<RowDigests, 3>{};
  traits_ = std::move(file.traits);
  const QFileInfo info(path);
  stamp_ = same_file(path, write_path())
               ? FileStamp{info.lastModified(), info.size(), std::move(file.checksum)}
               : FileStamp{QDateTime(), options_.output_size, options_.output_checksum};
  stamp_is_planes_ = same_file(path, write_path()) && image_.alpha.empty();
  on_disk_.reset();
  // A replay's output holds nothing of the image until it is written.
  unwritten_ = !same_file(path, write_path());
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

void FileHost::follow_file_on_disk() {
  // Only the file that is both read and written is followed: a replay's output is its own.
  if (!options_.output_path.isEmpty()) return;
  QFileInfo info(options_.image_path);
  info.refresh();
  if (!info.exists() || (info.lastModified() == stamp_.time && info.size() == stamp_.size)) {
    on_disk_.reset();
    return;
  }
  if (info.lastModified() == on_disk_time_ && info.size() == on_disk_size_) return;  // read
  on_disk_time_ = info.lastModified();
  on_disk_size_ = info.size();
  try {
    ImageFile file;
    run_with_progress(*options_.presence, window_,
                      QStringLiteral("Reading %1 ...").arg(display_name(options_.image_path)), [&] {
                        file = read_image_file(options_.image_path, limits_, PlaneCopy::kNone,
                                               options_.helper);
                      });
    on_disk_ = std::move(file);
  } catch (const RuntimeError& error) {
    // Half-written by the other program, perhaps: the host keeps the image it had.
    std::cerr << "tarvo: " << error.what() << "; keeping the image as it was\n";
    on_disk_.reset();
  }
}

int32_t FileHost::Wik_BufferWidth() {
  follow_file_on_disk();
  return on_disk_ ? on_disk_->image.width() : image_width();
}
int32_t FileHost::Wik_BufferHeight() {
  return on_disk_ ? on_disk_->image.height() : image_height();
}
Plane FileHost::Wik_GetRBuffer() {
  // The green and blue planes that follow come from the same reading. The canvas takes the file as
  // it now is.
  follow_file_on_disk();
  if (on_disk_) {
    take_file(std::move(*on_disk_), options_.image_path);
    file_is_original_ = true;
    backup_is_original_ = keep_backup_ = false;
  }
  return hand_out(0);
}
Plane FileHost::Wik_GetGBuffer() {
  return hand_out(1);
}
Plane FileHost::Wik_GetBBuffer() {
  return hand_out(2);
}

Plane FileHost::hand_out(int index) {
  if (lent_[index]) reclaim();  // handed out again: the file holds what was lent
  Plane* const ready[3] = {&ready_copies_.red, &ready_copies_.green, &ready_copies_.blue};
  Plane* const own[3] = {&image_.red, &image_.green, &image_.blue};
  Plane handed;
  if (!ready[index]->empty()) {
    handed = std::move(*ready[index]);
    *ready[index] = Plane();  // a moved-from plane keeps its shape but not its bytes
  } else if (lendable_) {
    handed = lend(index);
  } else {
    handed = shown(*own[index]);
  }
  return handed;
}

Plane FileHost::lend(int index) {
  Plane* const own[3] = {&image_.red, &image_.green, &image_.blue};
  if (!any_lent()) lent_size_ = QSize(own[index]->columns() - 1, own[index]->rows() - 1);
  lent_digests_[index] = read_digests_[index].empty() ? row_digests(*own[index], options_.helper)
                                                      : std::move(read_digests_[index]);
  read_digests_[index] = RowDigests();
  lent_[index] = true;
  Plane lent = std::move(*own[index]);
  *own[index] = Plane();  // a moved-from plane keeps its shape but not its bytes
  return lent;
}

void FileHost::reclaim() {
  if (!any_lent()) return;
  ImageFile file;
  // A file gone or changed past reading it back leaves the canvas as it is, as a host that is gone
  // does: what was lent is still the canvas's, and the next write asks before it writes.
  const auto refuse = [this](const std::string& why) {
    throw ImageNotWritten(
        "cannot read " + display_name(write_path()).toStdString() + " back: " + why,
        options_.presence->someone_looking);
  };
  try {
    run_with_progress(
        *options_.presence, window_,
        QStringLiteral("Reading %1 ...").arg(display_name(write_path())),
        [&] { file = read_image_file(write_path(), limits_, PlaneCopy::kNone, options_.helper); });
  } catch (const ImageNotWritten&) {
    throw;
  } catch (const RuntimeError& error) {
    refuse(error.what());
  }
  if (file.image.width() != lent_size_.width() || file.image.height() != lent_size_.height() ||
      !file.image.alpha.empty()) {
    refuse("it no longer holds an image of the canvas's size");
  }
  Plane* const own[3] = {&image_.red, &image_.green, &image_.blue};
  Plane* const read[3] = {&file.image.red, &file.image.green, &file.image.blue};
  for (int c = 0; c < 3; ++c) {
    if (lent_[c]) *own[c] = std::move(*read[c]);
  }
  lent_ = {};
  lent_digests_ = {};
  read_digests_ = {};
  lendable_ = true;
}

Plane FileHost::shown(const Plane& own) const {
  if (image_.alpha.empty()) return copy_of(own, options_.helper);
  Plane shown = copy_of(own, options_.helper);
  for (int32_t y = 0; y < image_.height(); ++y) {
    uint8_t* row = shown.row(y);
    const uint8_t* alpha = image_.alpha.row(y);
    for (int32_t x = 0; x < image_.width(); ++x) row[x] = over_white(row[x], alpha[x]);
  }
  return shown;
}

LayerPlanes FileHost::layer_planes() {
  if (image_.alpha.empty()) return {};
  RowHelper* const h = options_.helper;
  return {copy_of(image_.red, h), copy_of(image_.green, h), copy_of(image_.blue, h),
          copy_of(image_.alpha, h)};
}

void FileHost::set_layer_planes(const LayerPlanes& layer) {
  incoming_.layer = &layer;
}

void FileHost::adopt(const Plane*& incoming, const Plane& plane, const char* method) {
  if (plane.columns() < 2 || plane.rows() < 2) {
    raise_file_error(
        error_number::kHostCallFailed,
        QStringLiteral("%1: a plane of %2 x %3 bytes holds no image (one spare column and row "
                       "are expected)")
            .arg(QLatin1String(method))
            .arg(plane.columns())
            .arg(plane.rows()));
  }
  incoming = &plane;
}

void FileHost::Wik_SetRbuffer(const Plane& plane) {
  adopt(incoming_.red, plane, "Wik_SetRbuffer");
}
void FileHost::Wik_SetGbuffer(const Plane& plane) {
  adopt(incoming_.green, plane, "Wik_SetGbuffer");
}
void FileHost::Wik_SetBbuffer(const Plane& plane) {
  adopt(incoming_.blue, plane, "Wik_SetBbuffer");
}

// The backup is made when the write-back really writes: a write-back that changes nothing leaves
// PATH~ as it is.
std::string FileHost::Wik_WallpaperFilename() {
  const QString& chosen = options_.wallpaper_path;
  return (chosen.isEmpty() ? tarvo_data_file(QStringLiteral("wallpaper.png")) : chosen)
      .toStdString();
}

void FileHost::Wik_SendFormObject(CanvasWindow& form, int16_t /*flags*/) {
  // The host's questions and progress belong to the canvas: they open over it.
  window_ = dynamic_cast<QWidget*>(&form);
  form.show_window();
}

void register_file_host(HostRegistry& registry, FileHostOptions options) {
  registry.register_host(kHostProgId, [options = std::move(options)]() -> std::unique_ptr<Host> {
    return std::make_unique<FileHost>(options);
  });
}

}  // namespace tarvo
