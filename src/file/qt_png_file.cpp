#include "file/qt_png_file.h"

#include <QBuffer>
#include <QImageWriter>
#include <array>
#include <cstring>
#include <span>

#include "core/runtime_error.h"
#include "file/png_encoder.h"

namespace tarvo {

namespace {

bool deep_is_grey(const QImage& deep) {
  for (int y = 0; y < deep.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgba64*>(deep.constScanLine(y));
    for (int x = 0; x < deep.width(); ++x) {
      if (line[x].red() != line[x].green() || line[x].green() != line[x].blue()) return false;
    }
  }
  return true;
}

// The Qt picture format compose_picture or compose_deep_picture would choose, and its PNG header.
struct Choice {
  QImage::Format format;
  PngHeader header;
};

Choice choose(const ImagePlanes& image, const QImage& deep, const ImageFileTraits& traits) {
  const bool with_alpha = image.alpha != nullptr;
  Choice choice{QImage::Format_RGB888, PngHeader{image.width(), image.height(), 8, 2}};
  if (!deep.isNull()) {
    choice.header = PngHeader{deep.width(), deep.height(), 16, 2};
    if (traits.grey && !with_alpha && deep_is_grey(deep)) {
      choice.format = QImage::Format_Grayscale16;
      choice.header.colour_type = 0;
    } else {
      choice.format = with_alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64;
      choice.header.colour_type = with_alpha ? 6 : 2;
    }
  } else if (with_alpha) {
    choice.format = QImage::Format_RGBA8888;
    choice.header.colour_type = 6;
  } else if (traits.grey && is_grey(image)) {
    choice.format = QImage::Format_Grayscale8;
    choice.header.colour_type = 0;
  }
  return choice;
}

// The ancillary chunks Qt writes for a picture of this format with the traits' colour space, text
// and resolution: everything its file holds between the header and the image data.
QByteArray qt_ancillary_chunks(QImage::Format format, const ImageFileTraits& traits) {
  QImage picture(1, 1, format);
  picture.fill(0);
  if (traits.colour_space.isValid()) picture.setColorSpace(traits.colour_space);
  for (const auto& [key, value] : traits.text) picture.setText(key, value);
  if (traits.dots_per_metre_x > 0) picture.setDotsPerMeterX(traits.dots_per_metre_x);
  if (traits.dots_per_metre_y > 0) picture.setDotsPerMeterY(traits.dots_per_metre_y);
  QByteArray file;
  QBuffer buffer(&file);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter(&buffer, "png").write(picture);
  QByteArray chunks;
  for (qsizetype at = 8; at + 12 <= file.size();) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.constData() + at);
    const qsizetype length = qsizetype{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    const QByteArray type = file.mid(at + 4, 4);
    if (type != "IHDR" && type != "IDAT" && type != "IEND") chunks += file.mid(at, 12 + length);
    at += 12 + length;
  }
  return chunks;
}

// The 13 bytes of the image header chunk's data for header, as the encoder writes them.
std::array<uint8_t, 13> png_header_data(const PngHeader& header) {
  std::array<uint8_t, 13> data{};
  for (int i = 0; i < 4; ++i) {
    data[i] = static_cast<uint8_t>(static_cast<uint32_t>(header.width) >> (24 - 8 * i));
    data[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(header.height) >> (24 - 8 * i));
  }
  data[8] = static_cast<uint8_t>(header.bit_depth);
  data[9] = static_cast<uint8_t>(header.colour_type);
  return data;
}

void put_16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value >> 8);
  out[1] = static_cast<uint8_t>(value);
}

PngRowSource rows_of(const ImagePlanes& image, const QImage& deep, const PngHeader& header) {
  const int32_t width = header.width;
  if (header.bit_depth == 16) {
    return [&deep, width, channels = header.channels()](int32_t y, uint8_t* out) {
      const auto* line = reinterpret_cast<const QRgba64*>(deep.constScanLine(y));
      for (int32_t x = 0; x < width; ++x, out += 2 * channels) {
        put_16(out, line[x].red());
        if (channels == 1) continue;
        put_16(out + 2, line[x].green());
        put_16(out + 4, line[x].blue());
        if (channels == 4) put_16(out + 6, line[x].alpha());
      }
    };
  }
  return [image, width, channels = header.channels()](int32_t y, uint8_t* out) {
    const uint8_t* red = image.red->row(y);
    if (channels == 1) {
      std::memcpy(out, red, static_cast<std::size_t>(width));
      return;
    }
    const uint8_t* green = image.green->row(y);
    const uint8_t* blue = image.blue->row(y);
    const uint8_t* alpha = channels == 4 ? image.alpha->row(y) : nullptr;
    for (int32_t x = 0; x < width; ++x, out += channels) {
      out[0] = red[x];
      out[1] = green[x];
      out[2] = blue[x];
      if (alpha) out[3] = alpha[x];
    }
  };
}

}  // namespace

QByteArray encode_png_file(const ImagePlanes& image, const QImage& deep,
                           const ImageFileTraits& traits, RowHelper* helper,
                           const std::function<void(double)>& progress) {
  QByteArray file;
  stream_png_file(image, deep, traits, helper, nullptr, {}, progress,
                  [&file](std::span<const uint8_t> bytes) {
                    file.append(reinterpret_cast<const char*>(bytes.data()),
                                static_cast<qsizetype>(bytes.size()));
                  });
  return file;
}

void stream_png_file(const ImagePlanes& image, const QImage& deep, const ImageFileTraits& traits,
                     RowHelper* helper, const std::vector<PngChunk>* carried,
                     const PngCarryOptions& carry, const std::function<void(double)>& progress,
                     const PngBytesSink& out) {
  const Choice choice = choose(image, deep, traits);
  std::vector<uint8_t> before, after;
  if (carried) {
    const std::array<uint8_t, 13> header = png_header_data(choice.header);
    const PngCarriedChunks chunks = png_chunks_to_carry(*carried, header, carry);
    before = png_chunk_bytes(chunks.before_image_data);
    after = png_chunk_bytes(chunks.after_image_data);
  } else {
    const QByteArray ancillary = qt_ancillary_chunks(choice.format, traits);
    before.assign(ancillary.begin(), ancillary.end());
  }
  PngEncodeOptions options;
  options.ancillary = before;
  options.trailing = after;
  options.progress = progress;
  encode_png_to(choice.header, rows_of(image, deep, choice.header), options, helper, out);
}

}  // namespace tarvo
