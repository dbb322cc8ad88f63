#include "file/qt_file_host.h"

#include <QApplication>
#include <QBuffer>
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

#include "render/paper_grain.h"
#include "appearance/qt_data_files.h"
#include "file/qt_progress.h"
#include "recovery/qt_recovery.h"
#include "canvas/row_split.h"
#include "app/qt_application.h"
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
  unwritten_ = true;  // the new image is written on the first send or close, painted or not
}

// The file becomes the host's image. The stamp is that of the file the host writes to only when it
// is the file read.
void FileHost::take_file(ImageFile file, const QString& path) {
  image_ = std::move(file.image);
  deep_ = std::move(file.deep);
  // Transparent pixels are handed out over white, which the copies made while reading are not.
  ready_copies_ = image_.alpha.empty() ? std::move(file.copy) : HostImage{};
  traits_ = std::move(file.traits);
  const QFileInfo info(path);
  stamp_ = same_file(path, write_path())
               ? FileStamp{info.lastModified(), info.size(), std::move(file.checksum)}
               : FileStamp{};
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
    run_with_progress(QStringLiteral("Reading %1 ...").arg(display_name(options_.image_path)),
                      [&] { file = read_image_file(options_.image_path, limits_); });
    on_disk_ = std::move(file);
  } catch (const RuntimeError& error) {
    // Half-written by the other program, perhaps: the host keeps the image it had.
    std::cerr << "tarvo: " << error.what() << "; keeping the image as it was\n";
    on_disk_.reset();
  }
}

int32_t FileHost::Wik_BufferWidth() {
  follow_file_on_disk();
  return on_disk_ ? on_disk_->image.width() : image_.width();
}
int32_t FileHost::Wik_BufferHeight() {
  return on_disk_ ? on_disk_->image.height() : image_.height();
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
  return hand_out(ready_copies_.red, image_.red);
}
Plane FileHost::Wik_GetGBuffer() {
  return hand_out(ready_copies_.green, image_.green);
}
Plane FileHost::Wik_GetBBuffer() {
  return hand_out(ready_copies_.blue, image_.blue);
}

Plane FileHost::hand_out(Plane& ready, const Plane& own) const {
  if (ready.empty()) return shown(own);
  Plane handed = std::move(ready);
  ready = Plane();  // a moved-from plane keeps its shape but not its bytes
  return handed;
}

Plane FileHost::shown(const Plane& own) const {
  if (image_.alpha.empty()) return copy_of(own);
  Plane shown = copy_of(own);
  for (int32_t y = 0; y < image_.height(); ++y) {
    uint8_t* row = shown.row(y);
    const uint8_t* alpha = image_.alpha.row(y);
    for (int32_t x = 0; x < image_.width(); ++x) row[x] = over_white(row[x], alpha[x]);
  }
  return shown;
}

void FileHost::adopt(Plane& incoming, const Plane& plane, const char* method) {
  if (plane.columns() < 2 || plane.rows() < 2) {
    fail(error_number::kHostCallFailed,
         QStringLiteral("%1: a plane of %2 x %3 bytes holds no image (one spare column and row "
                        "are expected)")
             .arg(QLatin1String(method))
             .arg(plane.columns())
             .arg(plane.rows()));
  }
  incoming.assign(plane);
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
void FileHost::Wik_SaveUndo() {
  backup_wanted_ = true;
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
  if (traits_.bits_per_channel > 8 && deep_.isNull()) {
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

FileHost::FileStamp FileHost::write_image_to(const QString& path, const QByteArray& format) {
  const auto fail_write = [&](const QString& reason) {
    fail(error_number::kHostCallFailed,
         QStringLiteral("cannot write %1: %2").arg(display_name(path), reason));
  };
  if (!is_writable_format(format)) {
    fail_write(QStringLiteral("%1 files can be read but not written").arg(QString::fromLatin1(format)));
  }
  const QImage picture = deep_.isNull() ? compose_picture(image_, traits_)
                                        : compose_deep_picture(deep_, !image_.alpha.empty(), traits_);
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QString error = encode_picture(picture, format, buffer);
    if (!error.isEmpty()) fail_write(error);
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) fail_write(file.errorString());
  if (file.write(bytes) != bytes.size()) {
    const QString reason = file.errorString();
    file.cancelWriting();
    fail_write(reason);
  }
  if (!commit_image(file)) fail_write(file.errorString());
  const QFileInfo written(path);
  return FileStamp{written.lastModified(), written.size(), checksum_of(bytes)};
}

bool FileHost::changed_elsewhere() const {
  if (stamp_.checksum.isEmpty()) return false;  // a file the host never read or wrote
  const QFileInfo info(write_path());
  if (!info.exists()) return false;  // removed meanwhile: writing it loses nothing
  if (info.size() != stamp_.size) return true;
  return checksum_of_file(write_path()) != stamp_.checksum;
}

int64_t FileHost::take_painted_pixels() {
  const int32_t width = incoming_.width(), height = incoming_.height();
  const bool with_alpha = !image_.alpha.empty();
  int64_t painted = 0;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in[3] = {incoming_.red.row(y), incoming_.green.row(y), incoming_.blue.row(y)};
    uint8_t* own[3] = {image_.red.row(y), image_.green.row(y), image_.blue.row(y)};
    uint8_t* alpha = with_alpha ? image_.alpha.row(y) : nullptr;
    if (!alpha && std::memcmp(in[0], own[0], width) == 0 && std::memcmp(in[1], own[1], width) == 0 &&
        std::memcmp(in[2], own[2], width) == 0) {
      continue;
    }
    QRgba64* exact = deep_.isNull() ? nullptr : reinterpret_cast<QRgba64*>(deep_.scanLine(y));
    for (int32_t x = 0; x < width; ++x) {
      // What the canvas was handed for this pixel: its colour, over white where transparent.
      const uint8_t a = alpha ? alpha[x] : 255;
      if (in[0][x] == over_white(own[0][x], a) && in[1][x] == over_white(own[1][x], a) &&
          in[2][x] == over_white(own[2][x], a)) {
        continue;
      }
      ++painted;
      for (int c = 0; c < 3; ++c) own[c][x] = in[c][x];
      if (alpha) alpha[x] = 255;
      if (exact) exact[x] = QRgba64::fromRgba(in[0][x], in[1][x], in[2][x], 255);
    }
  }
  return painted;
}

void FileHost::write_back(bool backup) {
  const QString& path = write_path();
  if (changed_elsewhere()) {
    switch (ask_about_change_elsewhere()) {
      case Answer::kOverwrite:
        break;
      case Answer::kSaveElsewhere:
        return;
      case Answer::kKeepPainting:
        throw ImageNotWritten(display_name(path).toStdString() +
                                  " was changed by another program; it was not overwritten",
                              true);
    }
  }
  const QString loss = file_is_original_ ? write_loss() : QString();
  keep_original_before_losing(loss);
  if (backup && !keep_backup_ && QFileInfo::exists(path)) {
    copy_file_to_backup();
    backup_is_original_ = file_is_original_;
  }
  run_with_progress(QStringLiteral("Writing %1 ...").arg(display_name(path)),
                    [&] { stamp_ = write_image_to(path, traits_.format); });
  unwritten_ = false;
  file_is_original_ = false;
  if (!loss.isEmpty()) {
    const std::string name = display_name(path).toStdString();
    std::cerr << "tarvo: " << name << ": " << loss.toStdString() << "; the original is kept as "
              << name << "~\n";
  }
}

void FileHost::write_or_recover(bool backup) {
  try {
    write_back(backup);
  } catch (const ImageNotWritten&) {
    throw;
  } catch (const RuntimeError& error) {
    QString failure = QString::fromUtf8(error.what());
    try {
      const QString copy = RecoveryStore(options_.image_path)
                               .write_planes(image_.red, image_.green, image_.blue);
      failure += QStringLiteral("\nYour painting is safe: a copy is kept in the recovery folder as %1.")
                     .arg(display_name(copy));
    } catch (const RuntimeError& also) {
      failure += QLatin1Char('\n') + QString::fromUtf8(also.what());
    }
    std::cerr << "tarvo: " << failure.toStdString() << "\n";
    save_elsewhere_or_keep_painting(failure);
  }
}

void FileHost::save_elsewhere_or_keep_painting(const QString& failure) {
  if (!someone_is_looking()) throw ImageNotWritten(failure.toStdString(), false);
  for (;;) {
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                    failure + QStringLiteral("\n\nSave the painting under another name, or keep "
                                             "painting?"));
    QPushButton* save = box.addButton(QStringLiteral("Save As..."), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(QStringLiteral("Keep Painting"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(keep);
    box.exec();
    if (box.clickedButton() != save || !save_under_another_name()) {
      throw ImageNotWritten(failure.toStdString(), true);
    }
    if (!unwritten_) return;
  }
}

FileHost::Answer FileHost::ask_about_change_elsewhere() {
  const QString name = display_name(write_path());
  if (!someone_is_looking()) {
    throw ImageNotWritten(name.toStdString() +
                              " was changed by another program since it was read; it was not "
                              "overwritten",
                          false);
  }
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
                  QStringLiteral("%1 was changed by another program since Tarvo read or wrote it."
                                 "\n\nOverwrite it with your painting, save the painting under "
                                 "another name, or keep painting?")
                      .arg(name));
  QPushButton* overwrite = box.addButton(QStringLiteral("Overwrite"), QMessageBox::DestructiveRole);
  QPushButton* save = box.addButton(QStringLiteral("Save As..."), QMessageBox::AcceptRole);
  QPushButton* keep = box.addButton(QStringLiteral("Keep Painting"), QMessageBox::RejectRole);
  box.setDefaultButton(keep);  // Return never overwrites another program's work
  box.setEscapeButton(keep);
  box.exec();
  if (box.clickedButton() == overwrite) return Answer::kOverwrite;
  if (box.clickedButton() == save && save_under_another_name()) {
    return Answer::kSaveElsewhere;
  }
  return Answer::kKeepPainting;
}

// Asks for a file name and writes the painting there; from then on the host writes to that file.
// Returns false when the user cancels; a failed write is said and asked about again.
bool FileHost::save_under_another_name() {
  QFileDialog dialog(nullptr, QStringLiteral("Save the painting as"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  const QFileInfo current(write_path());
  const QFileInfo folder(current.absolutePath());
  dialog.setDirectory(folder.isWritable() ? folder.absoluteFilePath() : QDir::homePath());
  dialog.selectFile(current.fileName());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  const QString chosen = dialog.selectedFiles().first();
  try {
    const QByteArray format = format_for_suffix(chosen, traits_.format);
    run_with_progress(QStringLiteral("Writing %1 ...").arg(display_name(chosen)),
                      [&] { stamp_ = write_image_to(chosen, format); });
    traits_.format = format;
  } catch (const RuntimeError& error) {
    QMessageBox::warning(nullptr, QApplication::applicationDisplayName(),
                         QString::fromUtf8(error.what()));
    return true;  // asked again: unwritten_ still holds
  }
  if (!same_file(chosen, options_.image_path)) options_.output_path = chosen;
  std::cerr << "tarvo: the painting is saved as " << display_name(chosen).toStdString() << "\n";
  unwritten_ = false;
  file_is_original_ = false;
  keep_backup_ = backup_is_original_ = false;
  return true;
}

void FileHost::wik_Refresh() {
  // A plane not set for this write-back is the one the canvas was handed.
  const bool any_set = !incoming_.red.empty() || !incoming_.green.empty() || !incoming_.blue.empty();
  if (any_set) {
    if (incoming_.red.empty()) incoming_.red = shown(image_.red);
    if (incoming_.green.empty()) incoming_.green = shown(image_.green);
    if (incoming_.blue.empty()) incoming_.blue = shown(image_.blue);
  }
  const Plane& red = incoming_.red;
  for (const Plane* plane : {&incoming_.green, &incoming_.blue}) {
    if (plane->columns() != red.columns() || plane->rows() != red.rows()) {
      incoming_ = HostImage{};
      fail(error_number::kHostCallFailed,
           QStringLiteral("cannot write %1: the red, green and blue planes differ in size")
               .arg(display_name(write_path())));
    }
  }
  ready_copies_ = HostImage{};  // copies of the image as it was
  if (!any_set) {
    // Nothing was handed back: the image stays as it is.
  } else if (red.columns() != image_.red.columns() || red.rows() != image_.red.rows()) {
    // A canvas of another size than the image: every pixel is the canvas's, opaque.
    image_ = HostImage{incoming_.red.copy(), incoming_.green.copy(), incoming_.blue.copy(), Plane()};
    deep_ = QImage();
    unwritten_ = true;
  } else if (take_painted_pixels() > 0) {
    unwritten_ = true;
  }
  incoming_ = HostImage{};
  const bool backup = std::exchange(backup_wanted_, false);
  // Nothing painted since the file was read or written: the file already holds the image.
  if (!unwritten_ && QFileInfo::exists(write_path())) return;
  write_or_recover(backup);
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
