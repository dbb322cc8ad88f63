#include "file/metadata_carry.h"

#include <algorithm>
#include <exiv2/exiv2.hpp>
#include <mutex>
#include <string_view>

#include "file/png_chunk_carry.h"
#include "file/png_chunks.h"

namespace tarvo {

namespace {

// exiv2 0.28 counts bytes in size_t, 0.27 in long, and hands out its ICC profile by reference
// rather than by pointer.
#if EXIV2_TEST_VERSION(0, 28, 0)
using ExivSize = size_t;
const Exiv2::DataBuf& icc_profile(Exiv2::Image& image) {
  return image.iccProfile();
}
void set_icc_profile(Exiv2::Image& image, const Exiv2::DataBuf& profile) {
  image.setIccProfile(Exiv2::DataBuf(profile.c_data(), profile.size()), false);
}
#else
using ExivSize = long;
const Exiv2::DataBuf& icc_profile(Exiv2::Image& image) {
  return *image.iccProfile();
}
void set_icc_profile(Exiv2::Image& image, const Exiv2::DataBuf& profile) {
  Exiv2::DataBuf copy(profile.pData_, profile.size_);
  image.setIccProfile(copy, false);
}
#endif

// exiv2's XMP parser must be set up once before any use, and its warnings would go to stderr.
void prepare_exiv2() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize();
  });
}

// exiv2 reads the bytes where they lie, until metadata is written: they must outlive the image.
auto open_image(std::span<const uint8_t> bytes) {
  auto image = Exiv2::ImageFactory::open(bytes.data(), static_cast<ExivSize>(bytes.size()));
  image->readMetadata();
  return image;
}

bool exiv2_reads(std::span<const uint8_t> bytes) {
  return Exiv2::ImageFactory::getType(bytes.data(), static_cast<ExivSize>(bytes.size())) !=
         Exiv2::ImageType::none;
}

std::vector<uint8_t> image_bytes(Exiv2::Image& image) {
  Exiv2::BasicIo& io = image.io();
  if (io.open() != 0) throw std::runtime_error("the written file cannot be read back");
  std::vector<uint8_t> bytes(io.size());
  const auto got = io.read(bytes.data(), static_cast<ExivSize>(bytes.size()));
  io.close();
  if (static_cast<std::size_t>(got) != bytes.size()) {
    throw std::runtime_error("the written file cannot be read back");
  }
  return bytes;
}

// Whether exiv2 can give the written file a colour profile. A WebP file in the simple format (its
// bitstream alone, without the extended header) is damaged by exiv2 0.27 when it adds one; Qt
// writes the extended header whenever the picture has a colour space, as one read from a file with
// a profile has.
bool holds_colour_profile(std::span<const uint8_t> file) {
  const auto is = [&](std::size_t at, std::string_view text) {
    return file.size() >= at + text.size() &&
           std::equal(text.begin(), text.end(), file.begin() + at);
  };
  return !(is(0, "RIFF") && is(8, "WEBP")) || is(12, "VP8X");
}

bool can_write(const Exiv2::Image& image, Exiv2::MetadataId kind) {
  return (image.checkMode(kind) & Exiv2::amWrite) != 0;
}

// Sets key to value where the metadata holds it.
template <typename Value>
void replace_if_present(Exiv2::ExifData& exif, const char* key, const Value& value) {
  const auto found = exif.findKey(Exiv2::ExifKey(key));
  if (found != exif.end()) *found = value;
}
void replace_if_present(Exiv2::XmpData& xmp, const char* key, const std::string& value) {
  const auto found = xmp.findKey(Exiv2::XmpKey(key));
  if (found != xmp.end()) *found = value;
}

// The original's EXIF and XMP as they stay true of the written picture: upright where it was
// turned upright, with its size, without the old thumbnail.
void adjust_for_written_picture(Exiv2::ExifData& exif, Exiv2::XmpData& xmp,
                                const Exiv2::Image& written, const MetadataCarryOptions& options) {
  if (options.orientation_applied) {
    replace_if_present(exif, "Exif.Image.Orientation", uint16_t{1});
    replace_if_present(xmp, "Xmp.tiff.Orientation", std::string("1"));
  }
  if (written.pixelWidth() > 0 && written.pixelHeight() > 0) {
    const auto width = static_cast<uint32_t>(written.pixelWidth());
    const auto height = static_cast<uint32_t>(written.pixelHeight());
    replace_if_present(exif, "Exif.Photo.PixelXDimension", width);
    replace_if_present(exif, "Exif.Photo.PixelYDimension", height);
    replace_if_present(xmp, "Xmp.exif.PixelXDimension", std::to_string(width));
    replace_if_present(xmp, "Xmp.exif.PixelYDimension", std::to_string(height));
  }
  Exiv2::ExifThumb(exif).erase();
}

// Copies every kind of metadata the written format holds from original into written, through
// exiv2, and returns the written file's new bytes.
std::vector<uint8_t> carry_through_exiv2(std::span<const uint8_t> original,
                                         std::span<const uint8_t> written,
                                         const MetadataCarryOptions& options,
                                         std::string& problem) {
  auto from = open_image(original);
  auto to = open_image(written);
  Exiv2::ExifData exif = from->exifData();
  Exiv2::XmpData xmp = from->xmpData();
  adjust_for_written_picture(exif, xmp, *to, options);
  if (can_write(*to, Exiv2::mdExif)) to->setExifData(exif);
  if (can_write(*to, Exiv2::mdXmp)) to->setXmpData(xmp);
  if (can_write(*to, Exiv2::mdIptc)) to->setIptcData(from->iptcData());
  if (can_write(*to, Exiv2::mdComment)) to->setComment(from->comment());
  if (!from->iccProfileDefined()) {
    to->clearIccProfile();
  } else if (holds_colour_profile(written)) {
    set_icc_profile(*to, icc_profile(*from));
  } else {
    problem = "its colour profile could not be kept";
  }
  to->writeMetadata();
  return image_bytes(*to);
}

// Resets the orientation a PNG's EXIF or XMP states to upright, where it states one other than 1.
// The file is rewritten through exiv2 only then, as exiv2 rewrites the text chunks it holds its
// metadata in.
std::vector<uint8_t> make_png_upright(std::vector<uint8_t> png) {
  auto image = open_image(png);
  Exiv2::ExifData& exif = image->exifData();
  Exiv2::XmpData& xmp = image->xmpData();
  const auto exif_orientation = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
  const auto xmp_orientation = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
  const bool sideways = (exif_orientation != exif.end() && exif_orientation->toString() != "1") ||
                        (xmp_orientation != xmp.end() && xmp_orientation->toString() != "1");
  if (!sideways) return png;
  replace_if_present(exif, "Exif.Image.Orientation", uint16_t{1});
  replace_if_present(xmp, "Xmp.tiff.Orientation", std::string("1"));
  image->writeMetadata();
  return image_bytes(*image);
}

std::vector<uint8_t> carry(std::span<const uint8_t> original, std::span<const uint8_t> written,
                           const MetadataCarryOptions& options, std::string& problem) {
  if (is_png(original) && is_png(written)) {
    auto carried = carry_png_chunks(original, written, {.modified = options.modified});
    if (!carried) throw std::runtime_error("a PNG file is damaged");
    return options.orientation_applied ? make_png_upright(std::move(*carried)) : *carried;
  }
  return carry_through_exiv2(original, written, options, problem);
}

}  // namespace

MetadataCarry carry_metadata(std::span<const uint8_t> original, std::span<const uint8_t> written,
                             const MetadataCarryOptions& options) {
  const std::vector<uint8_t> unchanged(written.begin(), written.end());
  if (original.empty() || written.empty()) return {unchanged, {}};
  prepare_exiv2();
  try {
    if (!exiv2_reads(original) || !exiv2_reads(written)) return {unchanged, {}};
    MetadataCarry result;
    result.bytes = carry(original, written, options, result.problem);
    return result;
  } catch (const std::exception& error) {
    // exiv2 0.27 raises Exiv2::AnyError, 0.28 Exiv2::Error; both are std::exceptions.
    return {unchanged, std::string("its metadata could not be kept: ") + error.what()};
  }
}

}  // namespace tarvo
