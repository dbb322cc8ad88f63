// The file host's write-back: what reaches the file, the backup beside it, and a write that
// fails or finds the file changed by another program.

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
#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <future>
#include <iostream>
#include <optional>
#include <system_error>
#include <utility>

#include "appearance/qt_data_files.h"
#include "core/canvas_window.h"
#include "core/runtime_error.h"
#include "file/file_identity.h"
#include "file/metadata_carry.h"
#include "file/png_chunk_carry.h"
#include "file/png_chunks.h"
#include "file/qt_file_formats.h"
#include "file/qt_file_host.h"
#include "file/qt_png_file.h"
#include "file/qt_progress.h"
#include "recovery/qt_recovery.h"
#include "render/paper_grain.h"

namespace tarvo {

namespace {

std::span<const uint8_t> byte_span(const QByteArray& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.constData()),
          static_cast<std::size_t>(bytes.size())};
}

QByteArray whole_file(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether the canvas handed back the own colours and alpha of an image with alpha, in its shape.
bool layer_fits(const LayerPlanes& layer, const HostImage& image) {
  if (image.alpha.empty() || layer.empty()) return false;
  for (const Plane* plane : {&layer.red, &layer.green, &layer.blue, &layer.alpha}) {
    if (plane->columns() != image.red.columns() || plane->rows() != image.red.rows()) return false;
  }
  return true;
}

bool is_black_and_white(const ImagePlanes& image) {
  if (!is_grey(image)) return false;
  for (int32_t y = 0; y < image.height(); ++y) {
    const uint8_t* row = image.red->row(y);
    for (int32_t x = 0; x < image.width(); ++x) {
      if (row[x] != 0 && row[x] != 255) return false;
    }
  }
  return true;
}

}  // namespace

void FileHost::Wik_SaveUndo() {
  backup_wanted_ = true;
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
  if (format == "webp" && !traits_.lossless) {
    return QStringLiteral("lossy WebP compression loses detail each time the picture is written");
  }
  if ((format == "pbm" || format == "xbm") && !is_black_and_white(planes())) {
    return QStringLiteral("a %1 file holds only black and white").arg(QString::fromLatin1(format));
  }
  if (format == "pgm" && !is_grey(planes())) {
    return QStringLiteral("a pgm file holds only grey levels");
  }
  return QString();
}

FileWriteResult FileHost::write_file(const std::string& path, const FileContent& content,
                                     Backup backup) {
  return write_back_file(path, content, backup);
}

// The file the write to path replaces, where the host read or wrote it, else the file that was
// read (a first write to an output, "Save As..."): what the file held besides its pixels survives
// the write.
QString FileHost::metadata_source(const QString& path) const {
  const bool known = same_file(path, write_path()) && !stamp_.checksum.isEmpty();
  return known && QFileInfo::exists(path) ? path : options_.image_path;
}

// The encoded picture with the metadata of the file it replaces (metadata_source).
QByteArray FileHost::with_carried_metadata(const QString& path, QByteArray bytes) const {
  const QByteArray original = whole_file(metadata_source(path));
  if (original.isEmpty()) return bytes;
  MetadataCarryOptions options;
  options.orientation_applied = traits_.orientation_applied;
  options.modified = std::time(nullptr);
  MetadataCarry carried = carry_metadata(byte_span(original), byte_span(bytes), options);
  if (!carried.problem.empty()) {
    std::cerr << "tarvo: " << display_name(path).toStdString() << ": " << carried.problem << "\n";
  }
  return QByteArray(reinterpret_cast<const char*>(carried.bytes.data()),
                    static_cast<qsizetype>(carried.bytes.size()));
}

// A PNG over a PNG takes the original's chunks as they are, read without its image data; one
// whose orientation is reset goes through exiv2, which rewrites the whole file, and so does a PNG
// written over a file of another format.
bool FileHost::streams_png(const QString& path, std::optional<std::vector<PngChunk>>& carried,
                           std::string& problem) const {
  const QString from = metadata_source(path);
  QFile original(from);
  if (!original.open(QIODevice::ReadOnly) || original.size() == 0) return true;  // nothing held
  const QByteArray start = original.read(8);
  original.close();
  if (!is_png(byte_span(start))) return false;
  if (traits_.orientation_applied) return false;
  carried = read_png_chunks_but_image_data(QFile::encodeName(from).toStdString());
  if (!carried) problem = "its metadata could not be kept: a PNG file is damaged";
  return true;
}

FileHost::FileStamp FileHost::write_image_to(const QString& path, const QByteArray& format,
                                             bool backup, const ProgressReport& progress) {
  const auto fail_write = [&](const QString& reason) {
    raise_file_error(error_number::kHostCallFailed,
                     QStringLiteral("cannot write %1: %2").arg(display_name(path), reason));
  };
  if (!is_writable_format(format)) {
    fail_write(
        QStringLiteral("%1 files can be read but not written").arg(QString::fromLatin1(format)));
  }
  const auto encoding = [&](double done) {
    if (progress) progress(done * 0.9);
  };
  // The checksum the host keeps of what it wrote is taken as the bytes go out.
  QCryptographicHash hash(QCryptographicHash::Sha1);
  FileContent content;
  QByteArray bytes;
  std::optional<std::vector<PngChunk>> carried;
  std::string problem;
  if (format == "png" && streams_png(path, carried, problem)) {
    // Both cores, a strip at a time, straight from the planes into the file.
    if (!problem.empty()) {
      std::cerr << "tarvo: " << display_name(path).toStdString() << ": " << problem << "\n";
    }
    content = [&](const FileBytesSink& sink) {
      PngCarryOptions carry;
      carry.modified = std::time(nullptr);
      stream_png_file(planes(), deep_, traits_, options_.helper, carried ? &*carried : nullptr,
                      carry, encoding, [&](std::span<const uint8_t> piece) {
                        hash.addData(QByteArrayView(reinterpret_cast<const char*>(piece.data()),
                                                    static_cast<qsizetype>(piece.size())));
                        sink(piece);
                      });
    };
  } else {
    if (format == "png") {
      bytes = encode_png_file(planes(), deep_, traits_, options_.helper, encoding);
    } else {
      const QImage picture = deep_.isNull()
                                 ? compose_picture(planes(), traits_)
                                 : compose_deep_picture(deep_, !image_.alpha.empty(), traits_);
      QBuffer buffer(&bytes);
      buffer.open(QIODevice::WriteOnly);
      const QString error = encode_picture(picture, format, traits_.lossless, buffer);
      if (!error.isEmpty()) fail_write(error);
    }
    bytes = with_carried_metadata(path, std::move(bytes));
    content = [&](const FileBytesSink& sink) {
      hash.addData(bytes);
      sink(byte_span(bytes));
    };
  }
  const FileWriteResult written =
      write_file(path.toStdString(), content, backup ? Backup::kMake : Backup::kNone);
  if (!written.ok()) {
    raise_file_error(error_number::kHostCallFailed, QString::fromStdString(written.error));
  }
  const QFileInfo info(path);
  return FileStamp{info.lastModified(), info.size(), hash.result()};
}

bool FileHost::changed_elsewhere() const {
  if (stamp_.checksum.isEmpty()) return false;  // a file the host never read or wrote
  const QFileInfo info(write_path());
  if (!info.exists()) return false;  // removed meanwhile: writing it loses nothing
  if (info.size() != stamp_.size) return true;
  return checksum_of_file(write_path()) != stamp_.checksum;
}

int64_t FileHost::take_painted_pixels(const Incoming& incoming) {
  const int32_t width = image_.width(), height = image_.height();
  const bool with_alpha = !image_.alpha.empty();
  int64_t painted = 0;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in[3] = {incoming.red->row(y), incoming.green->row(y), incoming.blue->row(y)};
    uint8_t* own[3] = {image_.red.row(y), image_.green.row(y), image_.blue.row(y)};
    uint8_t* alpha = with_alpha ? image_.alpha.row(y) : nullptr;
    if (!alpha && std::memcmp(in[0], own[0], width) == 0 &&
        std::memcmp(in[1], own[1], width) == 0 && std::memcmp(in[2], own[2], width) == 0) {
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

int64_t FileHost::take_painted_layer(const LayerPlanes& in) {
  const int32_t width = image_.width(), height = image_.height();
  int64_t painted = 0;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* from[4] = {in.red.row(y), in.green.row(y), in.blue.row(y), in.alpha.row(y)};
    uint8_t* own[4] = {image_.red.row(y), image_.green.row(y), image_.blue.row(y),
                       image_.alpha.row(y)};
    bool same = true;
    for (int c = 0; c < 4 && same; ++c) same = std::memcmp(from[c], own[c], width) == 0;
    if (same) continue;
    QRgba64* exact = deep_.isNull() ? nullptr : reinterpret_cast<QRgba64*>(deep_.scanLine(y));
    for (int32_t x = 0; x < width; ++x) {
      if (from[0][x] == own[0][x] && from[1][x] == own[1][x] && from[2][x] == own[2][x] &&
          from[3][x] == own[3][x]) {
        continue;
      }
      ++painted;
      for (int c = 0; c < 4; ++c) own[c][x] = from[c][x];
      if (exact) exact[x] = QRgba64::fromRgba(from[0][x], from[1][x], from[2][x], from[3][x]);
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
      case Answer::kPaintOnto:
        throw RepaintOntoHostImage(display_name(path).toStdString() +
                                   " was changed by another program; the strokes go onto it");
    }
  }
  const bool exists = QFileInfo::exists(path);
  // A write that loses part of what the original file held keeps the original as the backup for
  // the rest of the session. The backup is made by the write itself, which removes it again when
  // it fails.
  const QString loss = file_is_original_ && exists && !keep_backup_ ? write_loss() : QString();
  const bool make_backup =
      exists && !keep_backup_ && (loss.isEmpty() ? backup : !backup_is_original_);
  run_with_progress(*options_.presence, window_,
                    QStringLiteral("Writing %1 ...").arg(display_name(path)),
                    [&](const ProgressReport& progress) {
                      stamp_ = write_image_to(path, traits_.format, make_backup, progress);
                    });
  stamp_is_planes_ = traits_.format == "png" && deep_.isNull() && image_.alpha.empty();
  if (make_backup) backup_is_original_ = file_is_original_;
  if (!loss.isEmpty()) keep_backup_ = true;
  unwritten_ = false;
  file_is_original_ = false;
  if (!loss.isEmpty()) {
    const std::string name = display_name(path).toStdString();
    std::cerr << "tarvo: " << name << ": " << loss.toStdString() << "; the original is kept as "
              << display_name(QString::fromStdString(backup_path(path.toStdString()))).toStdString()
              << "\n";
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
      const ImagePlanes painting = planes();
      const QString copy = RecoveryStore(options_.image_path)
                               .write_planes(*painting.red, *painting.green, *painting.blue);
      failure +=
          QStringLiteral("\nYour painting is safe: a copy is kept in the recovery folder as %1.")
              .arg(display_name(copy));
    } catch (const RuntimeError& also) {
      failure += QLatin1Char('\n') + QString::fromUtf8(also.what());
    }
    std::cerr << "tarvo: " << failure.toStdString() << "\n";
    save_elsewhere_or_keep_painting(failure);
  }
}

std::string FileHost::planes_file_checksum() {
  return stamp_is_planes_ ? stamp_.checksum.toHex().toStdString() : std::string();
}

void FileHost::wik_Refresh() {
  const Incoming in = std::exchange(incoming_, Incoming{});
  const bool any_set = in.any();
  // A plane not set for this write-back is the one the canvas was handed, which the file holds
  // where it was lent; planes are written from the canvas only when all three were lent.
  if (any_set && any_lent() && !(all_lent() && in.red && in.green && in.blue)) reclaim();
  const Plane* red = in.red ? in.red : &(unset_.red = any_set ? shown(image_.red) : Plane());
  const Plane* green =
      in.green ? in.green : &(unset_.green = any_set ? shown(image_.green) : Plane());
  const Plane* blue = in.blue ? in.blue : &(unset_.blue = any_set ? shown(image_.blue) : Plane());
  // Whatever happens, the planes made for this write-back go with it.
  struct DropUnset {
    HostImage& planes;
    ~DropUnset() { planes = HostImage{}; }
  } drop_unset{unset_};
  if (any_set) {
    for (const Plane* plane : {green, blue}) {
      if (plane->columns() != red->columns() || plane->rows() != red->rows()) {
        raise_file_error(
            error_number::kHostCallFailed,
            QStringLiteral("cannot write %1: the red, green and blue planes differ in size")
                .arg(display_name(write_path())));
      }
    }
  }
  ready_copies_ = HostImage{};  // copies of the image as it was
  read_digests_ = {};
  std::optional<std::array<RowDigests, 3>> digests;
  if (!any_set) {
    // Nothing was handed back: the image stays as it is.
  } else if (red->columns() != image_width() + 1 || red->rows() != image_height() + 1) {
    // A canvas of another size than the image: every pixel is the canvas's, opaque.
    image_ = HostImage{red->copy(), green->copy(), blue->copy(), Plane()};
    deep_ = QImage();
    lent_ = {};
    lent_digests_ = {};
    unwritten_ = true;
  } else if (all_lent()) {
    // The canvas holds the image: it was painted where a row differs from the row lent or written.
    digests = std::array<RowDigests, 3>{row_digests(*red, options_.helper),
                                        row_digests(*green, options_.helper),
                                        row_digests(*blue, options_.helper)};
    if (*digests != lent_digests_) unwritten_ = true;
    writing_ = ImagePlanes(*red, *green, *blue);
  } else {
    const Incoming handed{red, green, blue, in.layer};
    const bool painted = in.layer && layer_fits(*in.layer, image_)
                             ? take_painted_layer(*in.layer) > 0
                             : take_painted_pixels(handed) > 0;
    if (painted) unwritten_ = true;
  }
  if (any_set) lendable_ = false;  // image_ now holds what the canvas handed back
  const bool backup = std::exchange(backup_wanted_, false);
  // Nothing painted since the file was read or written: the file already holds the image.
  if (!unwritten_ && QFileInfo::exists(write_path())) {
    writing_ = ImagePlanes();
    return;
  }
  const bool all_set = in.red && in.green && in.blue;
  try {
    write_or_recover(backup);
  } catch (...) {
    settle_lending(all_set, nullptr);
    throw;
  }
  settle_lending(all_set, digests ? &*digests : nullptr);
}

void FileHost::settle_lending(bool all_set, const std::array<RowDigests, 3>* written) {
  const bool file_holds_planes =
      !unwritten_ && stamp_is_planes_ && deep_.isNull() && image_.alpha.empty();
  if (writing_.red) {
    if (file_holds_planes && written) {
      lent_digests_ = *written;  // the canvas keeps them, the file holds them as written
    } else {
      image_.red = writing_.red->copy();
      image_.green = writing_.green->copy();
      image_.blue = writing_.blue->copy();
      lent_ = {};
      lent_digests_ = {};
    }
    writing_ = ImagePlanes();
  } else if (file_holds_planes && all_set && !any_lent()) {
    // The image equals the canvas's planes, pixel for pixel, and the file holds it: the host lets
    // the canvas keep it alone.
    for (int c = 0; c < 3; ++c) lend(c);
  }
}

}  // namespace tarvo
