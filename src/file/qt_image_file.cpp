#include "file/qt_image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <future>
#include <optional>
#include <span>
#include <stdexcept>

// The row digests' hash, built into this file: no library to link or ship.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include "canvas/pixel_split.h"
#include "canvas/row_split.h"
#include "core/runtime_error.h"
#include "file/image_completeness.h"
#include "file/plane_snapshot.h"
#include "file/png_colour_key.h"
#include "file/png_row_decoder.h"
#include "file/qt_decode_memory.h"

namespace tarvo {

namespace {

// The widest pixel Qt's own decoders produce is 16-bit RGBA, 8 bytes.
constexpr int64_t kMaxDecodedBytesPerPixel = 8;

[[noreturn]] void refuse(int number, const QString& path, const QString& reason) {
  throw RuntimeError(
      number, QStringLiteral("cannot read %1: %2").arg(display_name(path), reason).toStdString());
}

// Qt refuses to allocate a decoded image above a global limit (128 MB by default, less than an
// 8192 x 8192 RGBA image). The limit is raised, never lowered, to what this image may need.
void allow_decoding(int64_t width, int64_t height) {
  const int64_t megabytes = (width * height * kMaxDecodedBytesPerPixel >> 20) + 1;
  const int current = QImageReader::allocationLimit();
  if (current != 0 && current < megabytes) {
    QImageReader::setAllocationLimit(static_cast<int>(megabytes));
  }
}

struct Header {
  QByteArray format;
  QSize size;
  int image_count = 1;
  QImage::Format pixel_format = QImage::Format_Invalid;  // what the decoder will produce, if known
};

// Opens the file and reads only its header: the format from the content and the image size.
Header read_header(QFile& file, const QString& path, const ImageLimits& limits) {
  const QFileInfo info(path);
  if (!info.exists()) refuse(error_number::kFileNotFound, path, QStringLiteral("no such file"));
  if (info.isDir()) refuse(error_number::kBadFileFormat, path, QStringLiteral("it is a folder"));
  if (!file.open(QIODevice::ReadOnly)) {
    refuse(error_number::kBadFileFormat, path, file.errorString());
  }
  if (file.size() == 0) {
    refuse(error_number::kBadFileFormat, path, QStringLiteral("the file is empty"));
  }
  QImageReader reader(&file);
  Header header{reader.format(), QSize(), 1};
  if (header.format.isEmpty()) {
    refuse(error_number::kBadFileFormat, path, QStringLiteral("not a supported image file"));
  }
  header.size = reader.size();
  if (!header.size.isValid()) {
    refuse(error_number::kBadFileFormat, path,
           QStringLiteral("the %1 file is damaged: its image size cannot be read")
               .arg(QString::fromLatin1(header.format)));
  }
  const std::string refusal = image_size_refusal(header.size.width(), header.size.height(), limits);
  if (!refusal.empty()) refuse(error_number::kOutOfMemory, path, QString::fromStdString(refusal));
  header.image_count = std::max(1, reader.imageCount());
  header.pixel_format = reader.imageFormat();
  return header;
}

std::span<const uint8_t> byte_span(const QByteArray& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.constData()),
          static_cast<std::size_t>(bytes.size())};
}

// Reads the whole file into the prepared buffer, a megabyte at a time so that the helper mapping
// its pages stays ahead, and checks that it holds all the data its structure announces. A file
// whose size changed since it was opened is read as it now is.
QByteArray& read_whole_file(QFile& file, const QString& path, const Header& header,
                            DecodeMemory& memory) {
  if (!file.seek(0)) refuse(error_number::kBadFileFormat, path, file.errorString());
  QByteArray& bytes = memory.file_bytes();
  constexpr qint64 kPiece = qint64{1} << 20;
  qint64 done = 0;
  while (done < bytes.size()) {
    const qint64 got = file.read(bytes.data() + done, std::min(kPiece, bytes.size() - done));
    if (got <= 0) break;
    done += got;
  }
  bytes.resize(done);  // shorter than prepared: the file shrank (resizing down keeps the buffer)
  if (!file.atEnd()) {
    memory.wait_for_mapping();  // the buffer may move now
    bytes.append(file.readAll());
  }
  if (bytes.size() != file.size()) refuse(error_number::kBadFileFormat, path, file.errorString());
  if (encoded_image_completeness(header.format.toStdString(), byte_span(bytes)) ==
      Completeness::Truncated) {
    refuse(error_number::kBadFileFormat, path,
           QStringLiteral("the %1 file is cut short (truncated)")
               .arg(QString::fromLatin1(header.format)));
  }
  return bytes;
}

// Makes the pixels of the key colour fully transparent, keeping their colour.
QImage apply_colour_key(const QImage& picture, const PngColourKey& key) {
  QImage keyed = picture.convertToFormat(QImage::Format_RGBA64);
  for (int y = 0; y < keyed.height(); ++y) {
    QRgba64* line = reinterpret_cast<QRgba64*>(keyed.scanLine(y));
    for (int x = 0; x < keyed.width(); ++x) {
      if (line[x].red() == key.red && line[x].green() == key.green && line[x].blue() == key.blue) {
        line[x].setAlpha(0);
      }
    }
  }
  return keyed;
}

// Removes a PNG's colour key chunk from bytes, so that Qt decodes the plain colours, and returns
// the key to apply afterwards.
PngColourKey take_png_colour_key(QByteArray& bytes, const Header& header, DecodeMemory& memory) {
  if (header.format != "png") return {};
  const PngColourKey key = find_png_colour_key(byte_span(bytes));
  if (key.present()) {
    memory.wait_for_mapping();  // before the bytes change
    bytes.remove(static_cast<qsizetype>(key.chunk_offset), static_cast<qsizetype>(key.chunk_size));
  }
  return key;
}

// Decodes bytes into picture (the prepared target, which the decoder may replace). Returns whether
// the file's orientation turned the pixels.
bool decode(QByteArray& bytes, const QString& path, const Header& header, QImage& picture) {
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, header.format);
  reader.setAutoTransform(true);  // a picture taken sideways is painted as it is seen
  allow_decoding(header.size.width(), header.size.height());
  if (!reader.read(&picture)) {
    refuse(error_number::kBadFileFormat, path,
           QStringLiteral("the image data is damaged (%1)").arg(reader.errorString()));
  }
  if (picture.size() != header.size && picture.size() != header.size.transposed()) {
    refuse(error_number::kBadFileFormat, path,
           QStringLiteral("the decoded picture does not have the size its header gives"));
  }
  return reader.transformation() != QImageIOHandler::TransformationNone;
}

// Whether bytes are a WebP file whose picture is compressed without loss: its bitstream is a
// VP8L chunk, alone or after the extended header (a lossy picture is a VP8 chunk, with its alpha
// in an ALPH chunk before it).
bool is_lossless_webp(const QByteArray& bytes) {
  if (bytes.size() < 16 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WEBP") return false;
  for (qsizetype at = 12; at + 8 <= bytes.size();) {
    const QByteArray kind = bytes.mid(at, 4);
    if (kind == "VP8L") return true;
    if (kind == "VP8 ") return false;
    const auto* size = reinterpret_cast<const uint8_t*>(bytes.constData() + at + 4);
    const qsizetype length = size[0] | size[1] << 8 | size[2] << 16 | qsizetype{size[3]} << 24;
    at += 8 + length + (length & 1);
  }
  return false;
}

bool has_grey_colour_table(const QImage& picture) {
  const QList<QRgb> table = picture.colorTable();
  return !table.isEmpty() && std::all_of(table.begin(), table.end(), [](QRgb c) {
    return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
  });
}

ImageFileTraits traits_of(const QImage& picture, const Header& header) {
  ImageFileTraits traits;
  traits.format = header.format;
  const QImage::Format format = picture.format();
  traits.grey = format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16 ||
                ((format == QImage::Format_Mono || format == QImage::Format_MonoLSB ||
                  format == QImage::Format_Indexed8) &&
                 has_grey_colour_table(picture));
  traits.bits_per_channel = format == QImage::Format_Grayscale16 ? 16
                            : picture.depth() > 32               ? picture.depth() / 4
                                                                 : 8;
  traits.image_count = header.image_count;
  traits.colour_space = picture.colorSpace();
  for (const QString& key : picture.textKeys()) traits.text.append({key, picture.text(key)});
  traits.dots_per_metre_x = picture.dotsPerMeterX();
  traits.dots_per_metre_y = picture.dotsPerMeterY();
  return traits;
}

// The layout of a decoded format whose rows are split into the planes directly, or none. Any
// other format is first converted by Qt to 8-bit RGB or RGBA; for these five that conversion only
// reorders or repeats bytes, so splitting them directly gives the same planes in one pass.
std::optional<PixelLayout> direct_layout(QImage::Format format) {
  switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
      return PixelLayout::kWordArgb;
    case QImage::Format_RGB888:
      return PixelLayout::kBytesRgb;
    case QImage::Format_RGBA8888:
      return PixelLayout::kBytesRgba;
    case QImage::Format_Grayscale8:
      return PixelLayout::kGrey;
    default:
      return std::nullopt;
  }
}

// Splits the picture's pixels (in a direct layout) into image's planes, which have its size with
// the spare column and row; into the alpha plane too when image has one. Each row is also copied
// into copy's colour planes when copy is given, while it is still in the cache. A large picture
// shares its rows with a helper thread.
void split_into_planes(const QImage& picture, PixelLayout layout, HostImage& image, HostImage* copy,
                       RowHelper* helper) {
  const int32_t width = picture.width();
  const bool with_alpha = !image.alpha.empty();
  const int64_t row_bytes =
      picture.bytesPerLine() + int64_t{width} * ((with_alpha ? 4 : 3) + (copy ? 3 : 0));
  share_rows_with_helper(helper, picture.height(), row_bytes, [&](int32_t begin, int32_t end) {
    for (int32_t y = begin; y < end; ++y) {
      const PlaneRow out{image.red.row(y), image.green.row(y), image.blue.row(y),
                         with_alpha ? image.alpha.row(y) : nullptr};
      split_pixel_row(layout, picture.constScanLine(y), width, out);
      if (copy == nullptr) continue;
      std::memcpy(copy->red.row(y), out.red, static_cast<std::size_t>(width));
      std::memcpy(copy->green.row(y), out.green, static_cast<std::size_t>(width));
      std::memcpy(copy->blue.row(y), out.blue, static_cast<std::size_t>(width));
    }
  });
}

// The decoded picture as the host's planes (and their copy, when asked for): straight from the
// decoder's rows when its format allows, else through Qt's conversion to 8-bit RGB (or RGBA when
// the picture has transparency).
void split_picture(QImage picture, DecodeMemory& memory, const QString& path, ImageFile& result,
                   PlaneCopy copy, RowHelper* helper) {
  const bool with_alpha = picture.hasAlphaChannel();
  if (copy == PlaneCopy::kUnlessPlain) {
    copy = with_alpha || result.traits.bits_per_channel > 8 ? PlaneCopy::kColourPlanes
                                                            : PlaneCopy::kNone;
  }
  std::optional<PixelLayout> layout = direct_layout(picture.format());
  if (!layout) {
    picture = std::move(picture).convertToFormat(with_alpha ? QImage::Format_RGBA8888
                                                            : QImage::Format_RGB888);
    if (picture.isNull()) refuse(error_number::kOutOfMemory, path, QStringLiteral("out of memory"));
    layout = direct_layout(picture.format());
  }
  const int32_t width = picture.width(), height = picture.height();
  result.image = memory.take_planes(width, height);
  if (with_alpha) result.image.alpha = Plane(width + 1, height + 1);
  if (copy == PlaneCopy::kColourPlanes) result.copy = memory.take_planes(width, height);
  split_into_planes(picture, *layout, result.image,
                    copy == PlaneCopy::kColourPlanes ? &result.copy : nullptr, helper);
}

// Whether a decoder producing this format makes a picture without alpha of 8 bits a channel.
bool is_plain_format(QImage::Format format) {
  return format == QImage::Format_RGB32 || format == QImage::Format_RGB888 ||
         format == QImage::Format_RGBX8888 || format == QImage::Format_Grayscale8;
}

bool is_snapshot_file(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray start = file.read(static_cast<qint64>(kPlaneSnapshotMagic.size()));
  return is_plane_snapshot(byte_span(start));
}

// A session journal's snapshot of the colour planes, read as they lie: what a PNG of them reads
// as, without the decoding.
ImageFile read_snapshot_file(const QString& path, const ImageLimits& limits, PlaneCopy copy) {
  std::vector<Plane> planes;
  std::string too_big;
  const std::string problem = read_plane_snapshot(
      QFile::encodeName(path).toStdString(),
      [&](PlaneSnapshotShape shape) -> std::string {
        if (shape.planes != 3) return "it is not a snapshot of three colour planes";
        too_big = image_size_refusal(shape.columns - 1, shape.rows - 1, limits);
        return too_big;
      },
      planes);
  if (!too_big.empty()) refuse(error_number::kOutOfMemory, path, QString::fromStdString(too_big));
  if (!problem.empty()) {
    refuse(error_number::kBadFileFormat, path,
           QStringLiteral("the snapshot %1").arg(QString::fromStdString(problem)));
  }
  ImageFile result;
  result.image = HostImage{std::move(planes[0]), std::move(planes[1]), std::move(planes[2]), {}};
  if (copy == PlaneCopy::kColourPlanes) {  // a snapshot is plain
    result.copy =
        HostImage{result.image.red.copy(), result.image.green.copy(), result.image.blue.copy(), {}};
  }
  return result;
}

// The one-pixel PNG made of a plain file's own chunks around a pixel of zeros: Qt reads it with
// the colour space, text, resolution and orientation it reads from the whole file.
QByteArray stand_in_png(const PlainPng& png) {
  std::vector<PngChunk> chunks;
  PngChunk& header = chunks.emplace_back();
  header.type = "IHDR";
  header.data = {0,
                 0,
                 0,
                 1,
                 0,
                 0,
                 0,
                 1,
                 static_cast<uint8_t>(png.header.bit_depth),
                 static_cast<uint8_t>(png.header.colour_type),
                 0,
                 0,
                 0};
  chunks.insert(chunks.end(), png.before.begin(), png.before.end());
  const std::vector<uint8_t> row(1 + static_cast<std::size_t>(png.header.bytes_per_pixel()), 0);
  PngChunk& data = chunks.emplace_back();
  data.type = "IDAT";
  uLongf size = compressBound(static_cast<uLong>(row.size()));
  data.data.resize(size);
  compress(data.data.data(), &size, row.data(), static_cast<uLong>(row.size()));
  data.data.resize(size);
  chunks.insert(chunks.end(), png.after.begin(), png.after.end());
  chunks.emplace_back().type = "IEND";
  const std::vector<uint8_t> bytes = write_png_chunks(chunks);
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

struct FileState {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  bool operator==(const FileState& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

std::optional<FileState> file_state(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
  return FileState{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

// A plain PNG (8-bit grey, RGB or RGBA, not interlaced, no palette or key) decoded a row at a time
// straight into the planes, its SHA-1 taken beside the decode: neither the file's bytes nor a
// decoded picture is ever held whole. None when the file is of another kind, is damaged, or changed
// while it was read: it is then read as any other file, whose decoder says what is wrong with it.
//
// The planes are not mapped ahead here: the decoding thread that writes them waits for the
// inflating one anyway, so its page faults cost nothing, where a mapping thread would take a
// core's share from the inflating thread.
std::optional<ImageFile> read_plain_png(const QString& path, const Header& header, PlaneCopy copy) {
  const std::optional<FileState> before = file_state(path);
  const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  std::array<uint8_t, 33> start{};
  const std::optional<PngHeader> plain =
      descriptor >= 0 && ::pread(descriptor, start.data(), start.size(), 0) == 33
          ? plain_png_header(start)
          : std::nullopt;
  if (!before || !plain) {
    if (descriptor >= 0) ::close(descriptor);
    return std::nullopt;
  }
  const PngByteSource source = [descriptor](uint8_t* into, std::size_t size) -> std::size_t {
    while (true) {
      const ssize_t got = ::read(descriptor, into, size);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) throw std::runtime_error("the file cannot be read");
    }
  };
  std::future<QByteArray> checksum =
      std::async(std::launch::async, [&path] { return checksum_of_file(path); });
  const bool with_alpha = plain->colour_type == 6;
  const bool lent = copy == PlaneCopy::kLent && !with_alpha;
  const bool copied = copy == PlaneCopy::kColourPlanes ||
                      ((copy == PlaneCopy::kUnlessPlain || copy == PlaneCopy::kLent) && with_alpha);
  const PixelLayout layout = plain->colour_type == 0   ? PixelLayout::kGrey
                             : plain->colour_type == 6 ? PixelLayout::kBytesRgba
                                                       : PixelLayout::kBytesRgb;
  const auto planes = [](int32_t width, int32_t height) {
    return HostImage{Plane(width + 1, height + 1), Plane(width + 1, height + 1),
                     Plane(width + 1, height + 1), Plane()};
  };
  ImageFile result;
  PlainPng png;
  PlainPngResult decoded = PlainPngResult::kDamaged;
  try {
    decoded = decode_plain_png(
        source, png,
        [&](const PngHeader& found) {
          if (found.width != header.size.width() || found.height != header.size.height()) {
            throw std::runtime_error("the file changed since its header was read");
          }
          result.image = planes(found.width, found.height);
          if (with_alpha) result.image.alpha = Plane(found.width + 1, found.height + 1);
          if (copied) result.copy = planes(found.width, found.height);
          if (lent) {
            for (RowDigests& digests : result.digests) {
              digests.resize(static_cast<std::size_t>(found.height));
            }
          }
        },
        [&](int32_t y, const uint8_t* pixels) {
          HostImage& image = result.image;
          const PlaneRow out{image.red.row(y), image.green.row(y), image.blue.row(y),
                             with_alpha ? image.alpha.row(y) : nullptr};
          const int32_t width = image.width();
          split_pixel_row(layout, pixels, width, out);
          const uint8_t* rows[3] = {out.red, out.green, out.blue};
          Plane* copies[3] = {&result.copy.red, &result.copy.green, &result.copy.blue};
          for (int c = 0; c < 3; ++c) {
            if (copied) std::memcpy(copies[c]->row(y), rows[c], static_cast<std::size_t>(width));
            if (lent) result.digests[c][static_cast<std::size_t>(y)] = row_digest(rows[c], width);
          }
        });
  } catch (const std::exception&) {
    decoded = PlainPngResult::kDamaged;  // read as any other file, which says what is wrong
  }
  ::close(descriptor);
  result.checksum = checksum.get();
  if (decoded != PlainPngResult::kDecoded || result.checksum.isEmpty() ||
      file_state(path) != before) {
    return std::nullopt;
  }
  QByteArray stand_in = stand_in_png(png);
  Header one_pixel = header;
  one_pixel.size = QSize(1, 1);
  QImage picture;
  try {
    if (decode(stand_in, path, one_pixel, picture)) return std::nullopt;  // turned: Qt turns it
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  if (picture.hasAlphaChannel() != with_alpha) return std::nullopt;
  result.traits = traits_of(picture, header);
  return result;
}

}  // namespace

ImageLimits machine_image_limits() {
  const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return ImageLimits{};
  return image_limits_for_memory(static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size));
}

ImageFile read_image_file(const QString& path, const ImageLimits& limits, PlaneCopy copy,
                          RowHelper* helper) {
  if (is_snapshot_file(path)) return read_snapshot_file(path, limits, copy);
  QFile file(path);
  const Header header = read_header(file, path, limits);
  if (header.format == "png") {
    if (std::optional<ImageFile> plain = read_plain_png(path, header, copy))
      return *std::move(plain);
  }
  if (copy == PlaneCopy::kLent) copy = PlaneCopy::kUnlessPlain;  // digests are taken when lent
  const int plane_sets = copy == PlaneCopy::kColourPlanes || (copy == PlaneCopy::kUnlessPlain &&
                                                              !is_plain_format(header.pixel_format))
                             ? 2
                             : 1;
  DecodeMemory memory(file.size(), header.size, header.pixel_format, plane_sets);  // outlives all
  QByteArray& bytes = read_whole_file(file, path, header, memory);
  file.close();
  ImageFile result;
  // The checksum is taken while the file decodes, unless a colour key is about to be cut out of
  // the bytes first.
  std::future<QByteArray> checksum;
  if (header.format == "png" && find_png_colour_key(byte_span(bytes)).present()) {
    result.checksum = checksum_of(bytes);
  } else {
    checksum = std::async(std::launch::async, [&bytes] { return checksum_of(bytes); });
  }
  const PngColourKey key = take_png_colour_key(bytes, header, memory);
  const bool lossless = header.format == "webp" && is_lossless_webp(bytes);
  QImage picture = memory.take_picture();
  bool turned = false;
  try {
    turned = decode(bytes, path, header, picture);
  } catch (...) {
    if (checksum.valid()) checksum.wait();  // it reads bytes, which go with memory
    throw;
  }
  if (checksum.valid()) result.checksum = checksum.get();
  memory.release_file_bytes();
  result.traits = traits_of(picture, header);
  result.traits.orientation_applied = turned;
  result.traits.lossless = lossless;
  if (key.present()) picture = apply_colour_key(picture, key);
  if (result.traits.bits_per_channel > 8) {
    // A copy of its own: the decoded picture lives in memory that is reused once it is split.
    result.deep = picture.format() == QImage::Format_RGBA64
                      ? picture.copy()
                      : picture.convertToFormat(QImage::Format_RGBA64);
    if (result.deep.isNull())
      refuse(error_number::kOutOfMemory, path, QStringLiteral("out of memory"));
  }
  split_picture(std::move(picture), memory, path, result, copy, helper);
  return result;
}

HostImage white_image(int32_t width, int32_t height) {
  HostImage image{Plane(width + 1, height + 1), Plane(width + 1, height + 1),
                  Plane(width + 1, height + 1), Plane()};
  for (Plane* plane : {&image.red, &image.green, &image.blue}) {
    for (int32_t y = 0; y < height; ++y) std::fill_n(plane->row(y), width, uint8_t{255});
  }
  return image;
}

Plane read_luminance_file(const QString& path, const ImageLimits& limits) {
  const HostImage image = read_image_file(path, limits).image;
  Plane luminance(image.width(), image.height());
  for (int32_t y = 0; y < image.height(); ++y) {
    for (int32_t x = 0; x < image.width(); ++x) {
      luminance(x, y) = grey_level(image.red(x, y), image.green(x, y), image.blue(x, y));
    }
  }
  return luminance;
}

bool is_grey(const ImagePlanes& image) {
  for (int32_t y = 0; y < image.height(); ++y) {
    const uint8_t* red = image.red->row(y);
    const uint8_t* green = image.green->row(y);
    const uint8_t* blue = image.blue->row(y);
    for (int32_t x = 0; x < image.width(); ++x) {
      if (red[x] != green[x] || green[x] != blue[x]) return false;
    }
  }
  return true;
}

QImage compose_picture(const ImagePlanes& image, const ImageFileTraits& traits) {
  const int32_t width = image.width(), height = image.height();
  const bool with_alpha = image.alpha != nullptr;
  const bool grey = !with_alpha && traits.grey && is_grey(image);
  const QImage::Format format = with_alpha ? QImage::Format_RGBA8888
                                : grey     ? QImage::Format_Grayscale8
                                           : QImage::Format_RGB888;
  QImage picture(width, height, format);
  if (picture.isNull()) {
    throw RuntimeError(error_number::kOutOfMemory, "Out of memory: cannot compose the picture");
  }
  const int step = with_alpha ? 4 : grey ? 1 : 3;
  for (int32_t y = 0; y < height; ++y) {
    uchar* line = picture.scanLine(y);
    const uint8_t* red = image.red->row(y);
    const uint8_t* green = image.green->row(y);
    const uint8_t* blue = image.blue->row(y);
    const uint8_t* alpha = with_alpha ? image.alpha->row(y) : nullptr;
    for (int32_t x = 0; x < width; ++x, line += step) {
      line[0] = red[x];
      if (grey) continue;
      line[1] = green[x];
      line[2] = blue[x];
      if (alpha) line[3] = alpha[x];
    }
  }
  if (traits.colour_space.isValid()) picture.setColorSpace(traits.colour_space);
  for (const auto& [key, value] : traits.text) picture.setText(key, value);
  if (traits.dots_per_metre_x > 0) picture.setDotsPerMeterX(traits.dots_per_metre_x);
  if (traits.dots_per_metre_y > 0) picture.setDotsPerMeterY(traits.dots_per_metre_y);
  return picture;
}

QImage compose_deep_picture(const QImage& deep, bool with_alpha, const ImageFileTraits& traits) {
  bool grey = traits.grey && !with_alpha;
  for (int y = 0; grey && y < deep.height(); ++y) {
    const QRgba64* line = reinterpret_cast<const QRgba64*>(deep.constScanLine(y));
    for (int x = 0; x < deep.width(); ++x) {
      if (line[x].red() != line[x].green() || line[x].green() != line[x].blue()) {
        grey = false;
        break;
      }
    }
  }
  QImage picture;
  if (grey) {
    // Qt's conversion to grey weighs the channels; equal channels convert to themselves exactly
    // only when copied across, so the grey level is taken from red.
    picture = QImage(deep.width(), deep.height(), QImage::Format_Grayscale16);
    for (int y = 0; !picture.isNull() && y < deep.height(); ++y) {
      const QRgba64* line = reinterpret_cast<const QRgba64*>(deep.constScanLine(y));
      auto* out = reinterpret_cast<quint16*>(picture.scanLine(y));
      for (int x = 0; x < deep.width(); ++x) out[x] = line[x].red();
    }
  } else {
    picture = deep.convertToFormat(with_alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
  }
  if (picture.isNull()) {
    throw RuntimeError(error_number::kOutOfMemory, "Out of memory: cannot compose the picture");
  }
  if (traits.colour_space.isValid()) picture.setColorSpace(traits.colour_space);
  for (const auto& [key, value] : traits.text) picture.setText(key, value);
  if (traits.dots_per_metre_x > 0) picture.setDotsPerMeterX(traits.dots_per_metre_x);
  if (traits.dots_per_metre_y > 0) picture.setDotsPerMeterY(traits.dots_per_metre_y);
  return picture;
}

std::array<uint8_t, 16> row_digest(const uint8_t* row, int32_t width) {
  const XXH128_hash_t digest = XXH3_128bits(row, static_cast<std::size_t>(std::max(width, 0)));
  std::array<uint8_t, 16> bytes{};
  std::memcpy(bytes.data(), &digest.low64, 8);
  std::memcpy(bytes.data() + 8, &digest.high64, 8);
  return bytes;
}

QByteArray checksum_of(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

QByteArray checksum_of_file(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha1);
  if (!hash.addData(&file)) return {};
  return hash.result();
}

QString encode_picture(const QImage& picture, const QByteArray& format, bool lossless,
                       QIODevice& device) {
  QImageWriter writer(&device, format);
  if (format == "jpeg" || format == "jpg") writer.setQuality(95);
  if (format == "webp") writer.setQuality(lossless ? 100 : 95);  // Qt's WebP 100 is lossless
  if (writer.write(picture)) return QString();
  return writer.errorString();
}

QString display_name(const QString& path) {
  return QDir::toNativeSeparators(path);
}

}  // namespace tarvo
