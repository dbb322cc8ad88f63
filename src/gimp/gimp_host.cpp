// GEGL comes before any Qt header: its GLib headers must not see Qt's keyword macros.
#include "gimp/gimp_host.h"

#include <QString>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "appearance/qt_data_files.h"
#include "canvas/pixel_split.h"
#include "core/canvas_window.h"
#include "core/runtime_error.h"
#include "file/qt_image_file.h"
#include "gimp/gimp_api.h"
#include "gimp/gimp_host_detail.h"
#include "gimp/gimp_pixels.h"
#include "render/paper_grain.h"

namespace tarvo {

using namespace gimp_host_detail;

namespace {

// Runs one piece of work at a time on a helper thread, so that it overlaps the next call to GIMP;
// without a thread the work runs at once on the caller's. The work must not throw.
class StripHelper {
 public:
  ~StripHelper() { finish(); }
  template <class Work>
  void run(Work work) {
    finish();
    try {
      worker_ = std::thread(std::move(work));
    } catch (const std::system_error&) {
      work();
    }
  }
  void finish() {
    if (worker_.joinable()) worker_.join();
  }

 private:
  std::thread worker_;
};

// Writes to every page of fresh memory, so that the system provides it now rather than when the
// memory is first used. Fresh memory reads as zero, and zero is written.
void touch_pages(uint8_t* bytes, std::size_t size) {
  constexpr std::size_t kPage = 4096;
  for (std::size_t at = 0; at < size; at += kPage) bytes[at] = 0;
}

uint8_t grey_of(const uint8_t* pixel, int bytes_per_pixel) {
  if (bytes_per_pixel < 3) return pixel[0];
  return grey_level(pixel[0], pixel[1], pixel[2]);
}

}  // namespace
GimpHost::GimpHost(GimpHostOptions options) : options_(std::move(options)) {
  check_alive("plug-in-tarvo");
  const std::string refused = unpaintable_reason(options_.drawable);
  if (!refused.empty()) fail(refused);
  layer_name_ = gimp_api::item_name(options_.drawable);
}

bool GimpHost::drawable_alive() {
  if (options_.link->gone) return false;
  return gimp_api::drawable_valid(options_.drawable) && gimp_api::image_valid(options_.image);
}

void GimpHost::lose(const std::string& what, const char* method) {
  if (lost_) lost_(what);
  // Not a fatal error: the hook has kept the painting and said so, and the canvas may stay open.
  // The call's name goes to standard error alone: a painter reads what happened.
  std::cerr << "tarvo: " << method << ": " << what << std::endl;
  throw ImageNotWritten(what, false);
}

void GimpHost::check_alive(const char* method) {
  if (options_.link->gone) lose("GIMP is no longer running", method);
  if (drawable_alive()) return;
  if (gimp_api::image_valid(options_.image)) {
    lose("the layer \"" + layer_name_ +
             "\" was deleted in GIMP (Edit > Undo in GIMP brings it back, and the canvas can "
             "send to it again)",
         method);
  }
  lose("the layer is no longer in GIMP (its image was closed)", method);
}

void GimpHost::load_paper() {
  gimp_api::Pattern pattern;
  if (gimp_api::active_pattern(pattern)) {
    const int bpp = pattern.bytes_per_pixel;
    paper_ = Plane(pattern.width, pattern.height);
    for (int32_t y = 0; y < pattern.height; ++y) {
      const uint8_t* row =
          pattern.pixels.data() + static_cast<std::size_t>(y) * pattern.width * bpp;
      for (int32_t x = 0; x < pattern.width; ++x) paper_(x, y) = grey_of(row + x * bpp, bpp);
    }
    return;
  }
  const std::string message = std::string("Tarvo cannot read GIMP's pattern") +
                              (pattern.name.empty() ? std::string() : " \"" + pattern.name + "\"") +
                              " as paper, so it uses its built-in paper grain.";
  std::cerr << "tarvo: " << message << std::endl;
  gimp_api::message(message);
  paper_ = make_paper_grain(kPaperGrainSize, kPaperGrainSize, kPaperGrainSeed);
}

int32_t GimpHost::Wik_GetPaperWidth() {
  check_alive("Wik_GetPaperWidth");
  load_paper();
  return paper_.columns();
}

int32_t GimpHost::wik_GetPaperHeight() {
  if (paper_.empty()) Wik_GetPaperWidth();
  return paper_.rows();
}

Plane GimpHost::Wik_GetPaper() {
  if (paper_.empty()) Wik_GetPaperWidth();
  return paper_.copy();
}

int32_t GimpHost::Wik_BufferWidth() {
  check_alive("Wik_BufferWidth");
  if (start_picture_of_other_size()) return start_red_.columns() - 1;
  return gimp_api::width(options_.drawable);
}

int32_t GimpHost::Wik_BufferHeight() {
  check_alive("Wik_BufferHeight");
  if (start_picture_of_other_size()) return start_red_.rows() - 1;
  return gimp_api::height(options_.drawable);
}

bool GimpHost::start_picture_of_other_size() {
  if (!start_red_.empty()) return true;
  // A picture of the layer's size is read once more, by the first fetch (take_start_picture).
  if (options_.start_from.empty() || start_size_checked_) return false;
  start_size_checked_ = true;
  const QString path = QString::fromStdString(options_.start_from);
  try {
    HostImage picture = read_image_file(path, machine_image_limits()).image;
    const int32_t width = gimp_api::width(options_.drawable);
    const int32_t height = gimp_api::height(options_.drawable);
    if (picture.width() == width && picture.height() == height) return false;
    options_.start_from.clear();
    start_red_ = std::move(picture.red);
    start_green_ = std::move(picture.green);
    start_blue_ = std::move(picture.blue);
    const std::string why =
        "The painting kept from your earlier session is " +
        size_text(start_red_.columns() - 1, start_red_.rows() - 1) + " pixels, but the layer \"" +
        layer_name_ + "\" is now " + size_text(width, height) +
        " (it was scaled or resized in GIMP since), so Tarvo does not paint it onto the layer: the "
        "canvas opens on the painting at its own size, and \"Send image\" asks where it goes.";
    std::cerr << "tarvo: " << why << std::endl;
    if (options_.presence->someone_looking && options_.tell) options_.tell(why);
    return true;
  } catch (const RuntimeError&) {
    // take_start_picture says why, and the canvas opens on the layer.
    return false;
  }
}

Plane GimpHost::Wik_GetRBuffer() {
  check_alive("Wik_GetRBuffer");
  if (start_picture_of_other_size()) {
    // Nothing of the layer was handed out: a send finds the sizes apart and asks.
    base_ = Plane();
    base_own_ = Plane();
    base_alpha_ = Plane();
    base_width_ = base_height_ = 0;
    bands_.clear();
    ready_green_ = std::move(start_green_);
    ready_blue_ = std::move(start_blue_);
    start_green_ = Plane();
    start_blue_ = Plane();
    Plane red = std::move(start_red_);
    start_red_ = Plane();
    return red;
  }
  const int32_t width = gimp_api::width(options_.drawable);
  const int32_t height = gimp_api::height(options_.drawable);
  if (width <= 0 || height <= 0) fail("GIMP reports no pixels in the layer: " + pdb_error());
  const BusyPointer busy(options_.presence->someone_looking &&
                         static_cast<int64_t>(width) * height >= kProgressPixels);
  BufferRef source(gimp_api::buffer(options_.drawable));
  if (!source.buffer) fail("GIMP gave no pixels of the layer: " + pdb_error());
  const bool alpha = gimp_api::has_alpha(options_.drawable);
  // The canvas paints the alpha too, unless the layer keeps it locked.
  const bool own = alpha && !gimp_api::alpha_locked(options_.drawable);
  base_own_ = own ? Plane(static_cast<int32_t>(width) * 3, height) : Plane();
  base_alpha_ = own ? Plane(width, height) : Plane();
  const Babl* native = gimp_api::format(options_.drawable);
  const Babl* read_format = fetch_format(native, alpha);
  // Where the canvas reads the layer's own bytes (8-bit RGB or RGBA in its space), the bands'
  // hashes are taken from the strips as they come rather than from a second read of the layer.
  const bool own_bytes_read = read_format == native;
  std::vector<uint64_t> bands;

  const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
  Plane red(width + 1, height + 1), green(width + 1, height + 1), blue(width + 1, height + 1);
  base_ = Plane();
  // A plane's memory comes in huge pages where the system has them, which GEGL fills fastest.
  base_ = Plane(static_cast<int32_t>(row_bytes), height);
  base_width_ = width;
  base_height_ = height;
  // A layer with alpha is read a strip at a time into one of two buffers, and composited over
  // white into base_ by the helper while GIMP fills the other.
  const std::size_t rgba_stride = static_cast<std::size_t>(width) * 4;
  std::vector<uint8_t> rgba[2];
  if (alpha) {
    for (auto& strip : rgba) strip.resize(rgba_stride * std::min(kStripRows, height));
  }
  // GIMP hands the pixels over one strip at a time on this thread. Meanwhile a helper splits the
  // strip before into the planes and has the system provide the memory of the strip after next,
  // so that neither the split nor the fresh pages' faults wait on GIMP, nor GIMP on them.
  const auto split_strip = [&, width, height, row_bytes](int32_t top, int32_t rows) {
    if (own_bytes_read) {
      const std::size_t stride = alpha ? rgba_stride : row_bytes;
      const uint8_t* strip =
          alpha ? rgba[(top / kStripRows) % 2].data() : base_.row(0) + row_bytes * top;
      add_band_hashes(strip, stride, rows, bands);
    }
    for (int32_t y = top; y < top + rows; ++y) {
      uint8_t* rgb = base_.row(0) + row_bytes * y;
      if (alpha) {
        composite_over_white(rgba[(top / kStripRows) % 2].data() + rgba_stride * (y - top), width,
                             rgb, own ? base_own_.row(y) : nullptr,
                             own ? base_alpha_.row(y) : nullptr);
      }
      split_pixel_row(PixelLayout::kBytesRgb, rgb, width,
                      PlaneRow{red.row(y), green.row(y), blue.row(y), nullptr});
    }
    const int32_t ahead = top + 2 * kStripRows;
    if (ahead < height) {
      touch_pages(base_.row(0) + row_bytes * ahead,
                  row_bytes * static_cast<std::size_t>(std::min(kStripRows, height - ahead)));
    }
  };
  StripHelper helper;
  const Progress progress(options_.show_progress, "Tarvo: reading the layer", width, height);
  for (int32_t top = 0; top < height; top += kStripRows) {
    const int32_t rows = std::min(kStripRows, height - top);
    const GeglRectangle strip = rectangle(0, top, width, rows);
    if (alpha) {
      gegl_buffer_get(source.buffer, &strip, 1.0, read_format, rgba[(top / kStripRows) % 2].data(),
                      static_cast<gint>(rgba_stride), GEGL_ABYSS_NONE);
    } else {
      gegl_buffer_get(source.buffer, &strip, 1.0, read_format, base_.row(0) + row_bytes * top,
                      static_cast<gint>(row_bytes), GEGL_ABYSS_NONE);
    }
    helper.run([=] { split_strip(top, rows); });
    progress.rows_done(top + rows);
  }
  helper.finish();
  bands_ = own_bytes_read ? std::move(bands) : band_hashes(0, height);
  if (!options_.start_from.empty()) take_start_picture(red, green, blue);
  ready_green_ = std::move(green);
  ready_blue_ = std::move(blue);
  return red;
}

void GimpHost::take_start_picture(Plane& red, Plane& green, Plane& blue) {
  const QString path = QString::fromStdString(options_.start_from);
  options_.start_from.clear();
  try {
    HostImage picture = read_image_file(path, machine_image_limits()).image;
    if (picture.width() != red.columns() - 1 || picture.height() != red.rows() - 1) {
      std::cerr << "tarvo: " << path.toStdString() << " is "
                << size_text(picture.width(), picture.height()) << " pixels, the layer "
                << size_text(red.columns() - 1, red.rows() - 1) << "; the canvas opens on the layer"
                << std::endl;
      return;
    }
    red = std::move(picture.red);
    green = std::move(picture.green);
    blue = std::move(picture.blue);
    // The picture holds colour only: painted pixels become opaque, as it shows them.
    base_own_ = Plane();
    base_alpha_ = Plane();
  } catch (const RuntimeError& error) {
    std::cerr << "tarvo: " << error.what() << "; the canvas opens on the layer" << std::endl;
  }
}

Plane GimpHost::Wik_GetGBuffer() {
  if (ready_green_.empty()) fail("Wik_GetGBuffer: called before Wik_GetRBuffer");
  Plane handed = std::move(ready_green_);
  ready_green_ = Plane();
  return handed;
}

Plane GimpHost::Wik_GetBBuffer() {
  if (ready_blue_.empty()) fail("Wik_GetBBuffer: called before Wik_GetRBuffer");
  Plane handed = std::move(ready_blue_);
  ready_blue_ = Plane();
  return handed;
}

LayerPlanes GimpHost::layer_planes() {
  if (base_alpha_.empty()) return {};
  const int32_t width = base_width_, height = base_height_;
  LayerPlanes layer{Plane(width + 1, height + 1), Plane(width + 1, height + 1),
                    Plane(width + 1, height + 1), Plane(width + 1, height + 1)};
  for (int32_t y = 0; y < height; ++y) {
    split_pixel_row(PixelLayout::kBytesRgb, base_own_.row(y), width,
                    PlaneRow{layer.red.row(y), layer.green.row(y), layer.blue.row(y), nullptr});
    std::memcpy(layer.alpha.row(y), base_alpha_.row(y), static_cast<std::size_t>(width));
  }
  return layer;
}

void GimpHost::Wik_SaveUndo() {
  check_alive("Wik_SaveUndo");
  for (const Plane*& pending : pending_) pending = nullptr;
  pending_layer_ = nullptr;
}

void GimpHost::Wik_SetRbuffer(const Plane& plane) {
  pending_[0] = &plane;
}
void GimpHost::Wik_SetGbuffer(const Plane& plane) {
  pending_[1] = &plane;
}
void GimpHost::Wik_SetBbuffer(const Plane& plane) {
  pending_[2] = &plane;
}

void GimpHost::wik_Refresh() {
  check_alive("wik_Refresh");
  if (!pending_[0] || !pending_[1] || !pending_[2]) {
    fail("wik_Refresh: the red, green and blue planes were not all handed over");
  }
  const Plane &red = *pending_[0], &green = *pending_[1], &blue = *pending_[2];
  const LayerPlanes* layer = std::exchange(pending_layer_, nullptr);
  for (const Plane*& pending : pending_) pending = nullptr;
  write_back(red, green, blue, layer);
}

std::string GimpHost::colour_profile() {
  return options_.link->gone ? std::string() : gimp_api::colour_profile(options_.image);
}

std::string GimpHost::Wik_WallpaperFilename() {
  return tarvo_data_file(QStringLiteral("wallpaper.png")).toStdString();
}

void GimpHost::Wik_SendFormObject(CanvasWindow& form, int16_t /*flags*/) {
  form.show_window();
}

}  // namespace tarvo
