#pragma once
// Image files as the file host keeps them: reading any format Qt decodes into the host's colour
// planes, and turning the planes back into a picture in the file's own kind.
//
// The colour planes have one spare column and row, as the host hands them out: (width + 1) x
// (height + 1) bytes, the spare column and row zero. They hold the colour of every pixel without
// its transparency (un-premultiplied): a file's alpha channel is kept aside in its own plane of the
// same shape and recombined when the picture is written. Deeper files (16-bit channels) are reduced
// to 8 bits in the planes, rounding to the nearest level, and their exact pixels are kept beside
// them, so that a pixel nobody painted is written back as it was read.

#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>
#include <array>
#include <functional>
#include <vector>

#include "core/plane.h"
#include "file/image_limits.h"

class QIODevice;

namespace tarvo {

class RowHelper;

// A digest of each row of a plane's image pixels: 16 bytes a row.
using RowDigests = std::vector<std::array<uint8_t, 16>>;

struct HostImage {
  Plane red, green, blue;
  Plane alpha;  // empty when the file has no transparency

  int32_t width() const { return red.columns() - 1; }
  int32_t height() const { return red.rows() - 1; }
};

// An image's planes wherever they are held, to read: the host's own image, or the canvas's planes
// during a write-back. alpha is null for an image without transparency.
struct ImagePlanes {
  const Plane* red = nullptr;
  const Plane* green = nullptr;
  const Plane* blue = nullptr;
  const Plane* alpha = nullptr;

  ImagePlanes() = default;
  ImagePlanes(const Plane& r, const Plane& g, const Plane& b) : red(&r), green(&g), blue(&b) {}
  // Implicit: a host image is read through its own planes.
  ImagePlanes(const HostImage& image)  // NOLINT(google-explicit-constructor)
      : red(&image.red),
        green(&image.green),
        blue(&image.blue),
        alpha(image.alpha.empty() ? nullptr : &image.alpha) {}

  int32_t width() const { return red->columns() - 1; }
  int32_t height() const { return red->rows() - 1; }
};

// What a file was, so that writing it back keeps its kind.
struct ImageFileTraits {
  QByteArray format = "png";  // Qt's format name: "png", "jpeg", "bmp", "pgm", ...
  bool grey = false;          // the file holds grey levels only (grey or grey-palette image)
  int bits_per_channel = 8;   // above 8 for 16-bit files
  int image_count = 1;        // frames or sizes in the file; only the first is read
  QColorSpace colour_space;
  QList<QPair<QString, QString>> text;  // textual metadata, in the file's order
  int dots_per_metre_x = 0, dots_per_metre_y = 0;
  // The file states an orientation other than upright, and its pixels were turned by it as they
  // were read: they are written upright.
  bool orientation_applied = false;
  // A WebP file compressed without loss, written back so.
  bool lossless = false;
};

struct ImageFile {
  HostImage image;
  ImageFileTraits traits;
  HostImage copy;  // colour planes equal to image's, when asked for (no alpha plane); else empty
  // A file of more than 8 bits a channel: its exact pixels as 16-bit RGBA (Format_RGBA64). Else
  // null.
  QImage deep;
  QByteArray checksum;  // SHA-1 of the file's bytes as read; empty for a journal's snapshot
  // The digest of each row of the colour planes (row_digest), when they were taken as the file was
  // read (PlaneCopy::kLent); else empty.
  std::array<RowDigests, 3> digests;
};

// Whether read_image_file also makes a copy of the colour planes. It is made in the same pass as
// the planes themselves, in memory prepared while the file decodes, for a host that hands copies
// of its image out right after reading it. kUnlessPlain makes it only for a picture with alpha or
// more than 8 bits a channel, whose planes alone do not hold the file: a host that can hand out
// the planes of a plain picture themselves, the file standing in for them, asks for that. kLent is
// kUnlessPlain for a host that lends a plain picture's planes out: where a plain file is decoded a
// row at a time (a plain PNG), the rows' digests are taken in the same pass, while the rows are in
// the cache.
enum class PlaneCopy { kNone, kColourPlanes, kUnlessPlain, kLent };

// Whether a read asked for copy makes a copy of the colour planes, for a picture that is plain (8
// bits a channel, no alpha) or not.
bool makes_plane_copy(PlaneCopy copy, bool plain);

// The limits for this machine: physical memory from the operating system.
ImageLimits machine_image_limits();

// Reads the image file at path. The header's size is checked against limits before anything is
// decoded, and a file cut short is refused even where Qt would decode it. Raises RuntimeError
// "cannot read PATH: REASON" when the file is missing (53), too big for the limits (7), or empty,
// truncated, damaged or of no format Qt reads (321). Never writes to the file. A large picture
// shares its rows with helper, where there is one. A session journal's snapshot of the planes
// (plane_snapshot.h) reads as the PNG file of those planes would.
ImageFile read_image_file(const QString& path, const ImageLimits& limits,
                          PlaneCopy copy = PlaneCopy::kNone, RowHelper* helper = nullptr);

// A white image of width x height pixels (colour planes with the spare column and row zero).
HostImage white_image(int32_t width, int32_t height);

// The file's picture as a luminance plane of exactly width x height bytes (no spare column or
// row): 0.299 R + 0.587 G + 0.114 B of the un-premultiplied colour, rounded. Errors as
// read_image_file.
Plane read_luminance_file(const QString& path, const ImageLimits& limits);

// Whether every pixel of the image has equal red, green and blue.
bool is_grey(const ImagePlanes& image);

// The picture to write: 8-bit RGBA when the image has an alpha plane, 8-bit grey when the file was
// grey and the image still is, else 8-bit RGB; with the file's colour space, text and resolution.
// The three colour planes and the alpha plane (if any) must have the same shape.
QImage compose_picture(const ImagePlanes& image, const ImageFileTraits& traits);

// The picture to write for a file of more than 8 bits a channel, from its exact 16-bit RGBA pixels:
// 16-bit grey when the file was grey and every pixel still is, 16-bit RGBA when alpha is wanted,
// else 16-bit RGB; with the file's colour space, text and resolution.
QImage compose_deep_picture(const QImage& deep, bool with_alpha, const ImageFileTraits& traits);

// Encodes picture as format onto device (JPEG and lossy WebP at quality 95; WebP without loss when
// lossless). Returns an empty string on success, else Qt's reason.
QString encode_picture(const QImage& picture, const QByteArray& format, bool lossless,
                       QIODevice& device);

// The digest of width bytes of a row, as RowDigests hold them: XXH3's 128-bit hash, by which a row
// that changed keeps its digest about once in 2^128, far beyond any painting, at the speed of
// reading the row (MD5 took a second for a 16384 x 16384 image).
std::array<uint8_t, 16> row_digest(const uint8_t* row, int32_t width);

// The SHA-1 of bytes, as ImageFile::checksum holds it.
QByteArray checksum_of(const QByteArray& bytes);

// The SHA-1 of the file at path, read a few megabytes at a time; empty when it cannot be read or
// when stop, asked before each piece, says to give up. size, when given, is set to the bytes read.
QByteArray checksum_of_file(const QString& path, const std::function<bool()>& stop = {},
                            qint64* size = nullptr);

// The path as shown in messages.
QString display_name(const QString& path);

}  // namespace tarvo
