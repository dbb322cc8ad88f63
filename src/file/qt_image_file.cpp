#include "file/qt_image_file.h"

#include <unistd.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <optional>
#include <span>
#include <vector>

// The row digests' hash, built into this file: no library to link or ship.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include "canvas/pixel_split.h"
#include "canvas/row_split.h"
#include "core/runtime_error.h"
#include "file/image_completeness.h"
#include "file/plane_snapshot.h"
#include "file/png_colour_key.h"
#include "file/qt_decode_memory.h"
#include "file/qt_plain_png.h"

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
  const bool copied = makes_plane_copy(copy, !with_alpha && result.traits.bits_per_channel <= 8);
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
  if (copied) result.copy = memory.take_planes(width, height);
  split_into_planes(picture, *layout, result.image, copied ? &result.copy : nullptr, helper);
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
  if (makes_plane_copy(copy, true)) {  // a snapshot is plain
    result.copy =
        HostImage{result.image.red.copy(), result.image.green.copy(), result.image.blue.copy(), {}};
  }
  return result;
}

// A plain PNG (qt_plain_png.h) decoded a row at a time straight into the planes, with the traits Qt
// reads from its one-pixel stand-in. None when the file is of another kind, is damaged, changed
// while it was read, or is turned by its orientation: it is then read as any other file, whose
// decoder says what is wrong with it.
std::optional<ImageFile> read_plain_png(const QString& path, const Header& header, PlaneCopy copy) {
  std::optional<PlainPngFile> read = read_plain_png_rows(path, header.size, copy);
  if (!read) return std::nullopt;
  QByteArray stand_in = stand_in_png(read->png);
  Header one_pixel = header;
  one_pixel.size = QSize(1, 1);
  QImage picture;
  try {
    if (decode(stand_in, path, one_pixel, picture)) return std::nullopt;  // turned: Qt turns it
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  if (picture.hasAlphaChannel() != (read->png.header.colour_type == 6)) return std::nullopt;
  read->file.traits = traits_of(picture, header);
  return std::move(read->file);
}

}  // namespace

bool makes_plane_copy(PlaneCopy copy, bool plain) {
  return copy == PlaneCopy::kColourPlanes ||
         (!plain && (copy == PlaneCopy::kUnlessPlain || copy == PlaneCopy::kLent));
}

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
  // Here a lent picture's digests are left to the host, taken as it lends the planes.
  const int plane_sets = makes_plane_copy(copy, is_plain_format(header.pixel_format)) ? 2 : 1;
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

QByteArray checksum_of_file(const QString& path, const std::function<bool()>& stop, qint64* size) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha1);
  std::vector<char> piece(std::size_t{4} << 20);
  qint64 read = 0;
  for (;;) {
    if (stop && stop()) return {};
    const qint64 got = file.read(piece.data(), static_cast<qint64>(piece.size()));
    if (got < 0) return {};
    if (got == 0) break;
    hash.addData(QByteArrayView(piece.data(), got));
    read += got;
  }
  if (size) *size = read;
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
