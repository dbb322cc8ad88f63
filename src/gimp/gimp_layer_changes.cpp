// What GIMP did to the layer meanwhile: whether Tarvo can paint on it at all, whether it still has
// the canvas's size, and whether it still holds what the canvas read or last wrote.
#include <algorithm>
#include <iostream>

#include "file/qt_image_file.h"
#include "gimp/gimp_api.h"
#include "gimp/gimp_host.h"
#include "gimp/gimp_host_detail.h"
#include "gimp/gimp_pixels.h"

namespace tarvo {

using namespace gimp_host_detail;

std::string unpaintable_reason(int32_t drawable) {
  const std::string name = quoted_name(drawable);
  if (gimp_api::is_layer_mask(drawable)) {
    return "The layer mask " + name +
           " is selected, and Tarvo paints colour, not masks: click the layer's own thumbnail in "
           "the Layers dock (beside the mask's) and run Tarvo Paint again";
  }
  if (gimp_api::is_group(drawable)) {
    return name +
           " is a layer group, which has no pixels of its own to paint on: select one of its "
           "layers "
           "in the Layers dock and run Tarvo Paint again";
  }
  const gimp_api::PixelKind kind = gimp_api::pixel_kind(drawable);
  if (kind != gimp_api::PixelKind::kRgb) {
    return std::string("Tarvo paints on RGB layers; this is ") +
           (kind == gimp_api::PixelKind::kGrey      ? "a grayscale"
            : kind == gimp_api::PixelKind::kIndexed ? "an indexed"
                                                    : "a non-RGB") +
           " one (Image > Mode > RGB converts it)";
  }
  if (gimp_api::pixels_locked(drawable)) {
    return "The pixels of " + name +
           " are locked: unlock them (\"Lock pixels\", the brush button at the top of the Layers "
           "dock) and run Tarvo Paint again";
  }
  return {};
}

namespace {

// The painting as a picture of its own: the layer's own colours and alpha where the canvas painted
// them, else its colours, opaque.
HostImage painting_of(const Plane& red, const Plane& green, const Plane& blue,
                      const LayerPlanes* layer) {
  const bool own = layer && !layer->empty() && layer->alpha.columns() == red.columns() &&
                   layer->alpha.rows() == red.rows();
  if (own)
    return HostImage{layer->red.copy(), layer->green.copy(), layer->blue.copy(),
                     layer->alpha.copy()};
  return HostImage{red.copy(), green.copy(), blue.copy(), Plane()};
}

}  // namespace

void GimpHost::resized_in_gimp(const Plane& red, const Plane& green, const Plane& blue,
                               const LayerPlanes* layer, int32_t width, int32_t height) {
  const int32_t columns = red.columns() - 1, rows = red.rows() - 1;
  const std::string what =
      "The layer \"" + layer_name_ + "\" is now " + size_text(width, height) +
      " pixels in GIMP (it was scaled or resized there), and your painting is " +
      size_text(columns, rows) + ", so it was not sent to the layer.";
  std::cerr << "tarvo: " << what << std::endl;
  if (!options_.ask_about_size || !options_.presence->someone_looking) {
    throw ImageNotWritten(what, false);
  }
  switch (options_.ask_about_size(what, can_repaint_)) {
    case LayerSizeAnswer::kRepaintScaled:
      if (!can_repaint_) break;
      throw RepaintOntoHostImage(what + " The strokes go onto it at its new size.",
                                 static_cast<double>(width) / columns,
                                 static_cast<double>(height) / rows);
    case LayerSizeAnswer::kSaveFile: {
      const std::string saved = options_.save_as_file
                                    ? options_.save_as_file(painting_of(red, green, blue, layer))
                                    : std::string();
      if (saved.empty()) break;
      std::cerr << "tarvo: the painting is saved as " << saved << std::endl;
      // Kept whole in the file: a close goes on without asking again.
      throw ImageNotWritten(what + " Your painting is saved as " + saved + ".", false);
    }
    case LayerSizeAnswer::kNewLayer:
      if (add_as_new_layer(painting_of(red, green, blue, layer))) return;
      {
        const std::string why = what + " GIMP did not add a new layer: " + pdb_error();
        if (options_.tell) options_.tell(why);
        throw ImageNotWritten(why, true);
      }
    case LayerSizeAnswer::kKeepPainting:
      break;
  }
  throw ImageNotWritten(what, true);
}

bool GimpHost::add_as_new_layer(const HostImage& painting) {
  const int32_t columns = painting.width(), rows = painting.height();
  const bool grouped = gimp_api::undo_group_start(options_.image);
  const int32_t layer =
      gimp_api::add_layer(options_.image, layer_name_ + " (Tarvo)", columns, rows);
  BufferRef target(layer >= 0 ? gimp_api::buffer(layer) : nullptr);
  if (target.buffer) {
    const Babl* format = fetch_format(gimp_api::format(layer), true);
    std::vector<uint8_t> row(static_cast<std::size_t>(columns) * 4);
    for (int32_t y = 0; y < rows; ++y) {
      for (int32_t x = 0; x < columns; ++x) {
        uint8_t* pixel = row.data() + static_cast<std::size_t>(x) * 4;
        pixel[0] = painting.red(x, y);
        pixel[1] = painting.green(x, y);
        pixel[2] = painting.blue(x, y);
        pixel[3] = painting.alpha.empty() ? 255 : painting.alpha(x, y);
      }
      const GeglRectangle line = rectangle(0, y, columns, 1);
      gegl_buffer_set(target.buffer, &line, 0, format, row.data(), GEGL_AUTO_ROWSTRIDE);
    }
    gegl_buffer_flush(target.buffer);
    gimp_api::update(layer, 0, 0, columns, rows);
  }
  if (grouped) gimp_api::undo_group_end(options_.image);
  gimp_api::flush_displays();
  if (!target.buffer) return false;
  std::cerr << "tarvo: the painting was added to the image as the layer \"" << layer_name_
            << " (Tarvo)\"" << std::endl;
  return true;
}

std::vector<uint64_t> GimpHost::band_hashes(int32_t top, int32_t bottom) {
  std::vector<uint64_t> hashes;
  BufferRef layer(gimp_api::buffer(options_.drawable));
  if (!layer.buffer) return hashes;
  const int32_t width = gimp_api::width(options_.drawable);
  const Babl* native = gimp_api::format(options_.drawable);
  const std::size_t stride = static_cast<std::size_t>(width) *
                             static_cast<std::size_t>(babl_format_get_bytes_per_pixel(native));
  std::vector<uint8_t> band(stride * kBandRows);
  for (int32_t y = top; y < bottom; y += kBandRows) {
    const int32_t rows = std::min(kBandRows, bottom - y);
    const GeglRectangle area = rectangle(0, y, width, rows);
    gegl_buffer_get(layer.buffer, &area, 1.0, native, band.data(), static_cast<gint>(stride),
                    GEGL_ABYSS_NONE);
    add_band_hashes(band.data(), stride, rows, hashes);
  }
  return hashes;
}

void GimpHost::rehash_bands(int32_t y, int32_t rows) {
  const int32_t height = gimp_api::height(options_.drawable);
  const int32_t first = y / kBandRows, top = first * kBandRows;
  const int32_t bottom = std::min(height, y + rows);
  const std::vector<uint64_t> fresh = band_hashes(top, bottom);
  if (bands_.size() < static_cast<std::size_t>(first) + fresh.size() || fresh.empty()) {
    bands_.clear();  // unknown: the next write asks no question it cannot ground
    return;
  }
  std::copy(fresh.begin(), fresh.end(), bands_.begin() + first);
}

bool GimpHost::check_unchanged() {
  if (bands_.empty()) return false;
  const int32_t height = gimp_api::height(options_.drawable);
  if (band_hashes(0, height) == bands_) return false;
  const std::string what = "the layer was changed in GIMP since Tarvo read or wrote it";
  if (!options_.ask_about_change || !options_.presence->someone_looking) {
    throw ImageNotWritten(what + ", so it was not overwritten", false);
  }
  switch (options_.ask_about_change(can_repaint_)) {
    case LayerChangeAnswer::kRepaint:
      if (can_repaint_) throw RepaintOntoHostImage(what + "; the strokes go onto it as it is now");
      break;
    case LayerChangeAnswer::kOverwrite:
      // What the canvas differs from is the layer as it is now: every such pixel is written.
      read_back_base(0, 0, base_width_, base_height_);
      return true;
    case LayerChangeAnswer::kKeepPainting:
      break;
  }
  throw ImageNotWritten(what + "; it was not overwritten", true);
}

}  // namespace tarvo
