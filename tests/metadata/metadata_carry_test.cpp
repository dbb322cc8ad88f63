// Metadata carried across a write as the program writes: a file made with real metadata by exiv2,
// read with Qt (turned upright by its orientation where Qt does that), painted, written by Qt's
// encoder, carried, and read back with exiv2.
#include "file/metadata_carry.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <exiv2/exiv2.hpp>
#include <string>
#include <vector>

#include "file/png_chunks.h"

namespace tarvo {
namespace {

using Bytes = std::vector<uint8_t>;

#if EXIV2_TEST_VERSION(0, 28, 0)
using ExivSize = size_t;
Bytes icc_of(Exiv2::Image& image) {
  return Bytes(image.iccProfile().c_data(),
               image.iccProfile().c_data() + image.iccProfile().size());
}
void set_icc(Exiv2::Image& image, const QByteArray& icc) {
  image.setIccProfile(Exiv2::DataBuf(reinterpret_cast<const Exiv2::byte*>(icc.data()), icc.size()));
}
#else
using ExivSize = long;
Bytes icc_of(Exiv2::Image& image) {
  return Bytes(image.iccProfile()->pData_, image.iccProfile()->pData_ + image.iccProfile()->size_);
}
void set_icc(Exiv2::Image& image, const QByteArray& icc) {
  Exiv2::DataBuf profile(reinterpret_cast<const Exiv2::byte*>(icc.data()), icc.size());
  image.setIccProfile(profile);
}
#endif

// exiv2 reads the bytes where they lie: they must outlive the image.
auto open_image(const Bytes& bytes) {
  auto image = Exiv2::ImageFactory::open(bytes.data(), static_cast<ExivSize>(bytes.size()));
  image->readMetadata();
  return image;
}

Bytes bytes_of(Exiv2::Image& image) {
  Exiv2::BasicIo& io = image.io();
  io.open();
  Bytes bytes(io.size());
  io.read(bytes.data(), static_cast<ExivSize>(bytes.size()));
  io.close();
  return bytes;
}

Bytes to_bytes(const QByteArray& data) {
  return Bytes(data.begin(), data.end());
}

QByteArray encode(const QImage& picture, const char* format) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (std::string(format) == "jpeg") writer.setQuality(95);
  EXPECT_TRUE(writer.write(picture)) << writer.errorString().toStdString();
  return data;
}

const QByteArray kProfile = QColorSpace(QColorSpace::AdobeRgb).iccProfile();

// A 40 x 30 picture taken sideways (orientation 6), with a camera, a date, a position, a title,
// a caption and a colour profile.
Bytes photo(const char* format, bool with_iptc) {
  QImage picture(40, 30, QImage::Format_RGB888);
  picture.fill(QColor(200, 120, 40));
  picture.setColorSpace(QColorSpace::SRgb);               // as any file with a profile is read
  const Bytes plain = to_bytes(encode(picture, format));  // exiv2 reads it where it lies
  auto image = open_image(plain);
  Exiv2::ExifData& exif = image->exifData();
  exif["Exif.Image.Make"] = "Tarvo Optics";
  exif["Exif.Image.Model"] = "Field 3";
  exif["Exif.Image.Orientation"] = uint16_t{6};
  exif["Exif.Photo.DateTimeOriginal"] = "2021:06:01 12:34:56";
  exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
  Exiv2::URationalValue latitude;
  latitude.read("60/1 10/1 0/1");
  exif.add(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude"), &latitude);
  image->xmpData()["Xmp.dc.title"] = "lang=\"x-default\" Harbour at dawn";
  image->xmpData()["Xmp.tiff.Orientation"] = "6";
  if (with_iptc) image->iptcData()["Iptc.Application2.Caption"] = "Boats in the harbour";
  set_icc(*image, kProfile);
  image->writeMetadata();
  return bytes_of(*image);
}

struct ProgramWrite {
  Bytes written;
  bool orientation_applied = false;
};

// What the program does with a file: reads it turned upright where the reader can, paints a
// stroke and writes the picture in the file's format.
ProgramWrite paint_over(const Bytes& original, const char* format) {
  QByteArray data(reinterpret_cast<const char*>(original.data()), original.size());
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  reader.setAutoTransform(true);
  QImage picture = reader.read();
  EXPECT_FALSE(picture.isNull()) << reader.errorString().toStdString();
  QPainter(&picture).fillRect(2, 2, 10, 4, QColor(10, 20, 250));
  return {to_bytes(encode(picture, format)),
          reader.transformation() != QImageIOHandler::TransformationNone};
}

MetadataCarryOptions options(bool orientation_applied, std::optional<std::time_t> modified = {}) {
  MetadataCarryOptions options;
  options.orientation_applied = orientation_applied;
  options.modified = modified;
  return options;
}

// The pixels as the file stores them, whatever its orientation and colour space.
QImage decode_as_stored(const Bytes& bytes) {
  QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setAutoTransform(false);
  QImage picture = reader.read().convertToFormat(QImage::Format_RGB888);
  picture.setColorSpace(QColorSpace());
  return picture;
}

std::string exif_value(Exiv2::Image& image, const char* key) {
  const auto found = image.exifData().findKey(Exiv2::ExifKey(key));
  return found == image.exifData().end() ? "(none)" : found->toString();
}

std::string xmp_value(Exiv2::Image& image, const char* key) {
  const auto found = image.xmpData().findKey(Exiv2::XmpKey(key));
  return found == image.xmpData().end() ? "(none)" : found->toString();
}

void expect_photo_metadata(const Bytes& carried, bool orientation_applied, bool with_iptc) {
  auto image = open_image(carried);
  EXPECT_EQ(exif_value(*image, "Exif.Image.Make"), "Tarvo Optics");
  EXPECT_EQ(exif_value(*image, "Exif.Image.Model"), "Field 3");
  EXPECT_EQ(exif_value(*image, "Exif.Photo.DateTimeOriginal"), "2021:06:01 12:34:56");
  EXPECT_EQ(exif_value(*image, "Exif.GPSInfo.GPSLatitude"), "60/1 10/1 0/1");
  EXPECT_EQ(exif_value(*image, "Exif.GPSInfo.GPSLatitudeRef"), "N");
  const std::string orientation = orientation_applied ? "1" : "6";
  EXPECT_EQ(exif_value(*image, "Exif.Image.Orientation"), orientation);
  EXPECT_EQ(xmp_value(*image, "Xmp.tiff.Orientation"), orientation);
  EXPECT_EQ(xmp_value(*image, "Xmp.dc.title"), "lang=\"x-default\" Harbour at dawn");
  if (with_iptc) {
    const auto caption = image->iptcData().findKey(Exiv2::IptcKey("Iptc.Application2.Caption"));
    ASSERT_NE(caption, image->iptcData().end());
    EXPECT_EQ(caption->toString(), "Boats in the harbour");
  }
  ASSERT_TRUE(image->iccProfileDefined());
  EXPECT_EQ(icc_of(*image), to_bytes(kProfile));
}

void expect_carried(const char* format, bool with_iptc, bool expect_upright) {
  const Bytes original = photo(format, with_iptc);
  const ProgramWrite write = paint_over(original, format);
  EXPECT_EQ(write.orientation_applied, expect_upright) << "Qt's " << format << " reader";
  const MetadataCarry carry =
      carry_metadata(original, write.written, options(write.orientation_applied));
  ASSERT_EQ(carry.problem, "");
  expect_photo_metadata(carry.bytes, write.orientation_applied, with_iptc);
  EXPECT_EQ(decode_as_stored(carry.bytes), decode_as_stored(write.written))
      << "the pixels are the written ones";
}

TEST(MetadataCarry, JpegKeepsExifXmpIptcAndProfileAndBecomesUpright) {
  expect_carried("jpeg", true, true);
}

TEST(MetadataCarry, TiffKeepsExifXmpIptcAndProfileAndBecomesUpright) {
  expect_carried("tiff", true, true);
}

TEST(MetadataCarry, WebpKeepsExifXmpAndProfile) {
  // A WebP file holds no IPTC; Qt reads it as stored, so the orientation stays.
  expect_carried("webp", false, false);
}

TEST(MetadataCarry, PngKeepsExifXmpIptcAndProfile) {
  const Bytes original = photo("png", true);
  const ProgramWrite write = paint_over(original, "png");
  const MetadataCarry carry =
      carry_metadata(original, write.written, options(write.orientation_applied));
  ASSERT_EQ(carry.problem, "");
  expect_photo_metadata(carry.bytes, write.orientation_applied, true);
  // Turned upright on reading, a PNG becomes upright in its metadata too.
  const MetadataCarry upright = carry_metadata(original, write.written, options(true));
  expect_photo_metadata(upright.bytes, true, true);
  EXPECT_EQ(decode_as_stored(upright.bytes), decode_as_stored(write.written));
}

std::string chunk_types(const Bytes& png) {
  const std::vector<PngChunk> chunks = *read_png_chunks(png);
  std::string types;
  for (const PngChunk& chunk : chunks) types += (types.empty() ? "" : " ") + chunk.type;
  return types;
}

// A PNG with a gamma, a modification time, a private chunk and text, and no resolution: what
// Qt writes over it has a colour profile in place of the gamma and a resolution of its own.
TEST(MetadataCarry, PngKeepsChunksExiv2DoesNotKnow) {
  QImage picture(16, 16, QImage::Format_RGB888);
  picture.fill(Qt::white);
  std::vector<PngChunk> chunks = *read_png_chunks(to_bytes(encode(picture, "png")));
  std::erase_if(chunks, [](const PngChunk& c) { return !c.critical(); });
  chunks.insert(chunks.begin() + 1, {{"gAMA", {0, 0, 0xb1, 0x8f}}, {"prVt", {'t', 'a', 'g'}}});
  chunks.insert(chunks.end() - 1, {{"tIME", {0x07, 0xe5, 6, 1, 12, 0, 0}},
                                   {"tEXt", {'T', 'i', 't', 'l', 'e', 0, 'S', 'e', 'a'}}});
  const Bytes original = write_png_chunks(chunks);
  const ProgramWrite write = paint_over(original, "png");
  ASSERT_NE(chunk_types(write.written).find("iCCP"), std::string::npos);

  const std::time_t now = 1700000000;  // 2023-11-14 22:13:20 UTC
  const MetadataCarry carry =
      carry_metadata(original, write.written, options(write.orientation_applied, now));
  ASSERT_EQ(carry.problem, "");
  EXPECT_EQ(chunk_types(carry.bytes), "IHDR gAMA prVt IDAT tIME tEXt IEND");
  const std::vector<PngChunk> carried = *read_png_chunks(carry.bytes);
  EXPECT_EQ(carried[1].data, (Bytes{0, 0, 0xb1, 0x8f}));
  EXPECT_EQ(carried[4].data, (Bytes{0x07, 0xe7, 11, 14, 22, 13, 20}));
  EXPECT_EQ(decode_as_stored(carry.bytes), decode_as_stored(write.written));
}

TEST(MetadataCarry, CarriesNothingFromAFileWithoutMetadataOrOfAnotherKind) {
  QImage picture(8, 8, QImage::Format_RGB888);
  picture.fill(Qt::red);
  const Bytes written = to_bytes(encode(picture, "jpeg"));
  const Bytes bmp = to_bytes(encode(picture, "bmp"));
  EXPECT_EQ(carry_metadata(bmp, written, {}).bytes, written);
  EXPECT_EQ(carry_metadata({}, written, {}).bytes, written);
  const Bytes damaged{0xff, 0xd8, 0xff, 0xe1, 0x00};
  const MetadataCarry carry = carry_metadata(damaged, written, {});
  EXPECT_EQ(carry.bytes, written);
}

}  // namespace
}  // namespace tarvo
