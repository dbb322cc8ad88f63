// The host's libgimp calls for GIMP 2.10, where images and drawables are plain ids.
#include <libgimp/gimp.h>

#include "gimp/gimp_api.h"

namespace tarvo::gimp_api {

bool image_valid(int32_t image) {
  return gimp_image_is_valid(image);
}

bool drawable_valid(int32_t drawable) {
  return gimp_item_is_valid(drawable);
}

PixelKind pixel_kind(int32_t drawable) {
  if (gimp_drawable_is_rgb(drawable)) return PixelKind::kRgb;
  if (gimp_drawable_is_gray(drawable)) return PixelKind::kGrey;
  if (gimp_drawable_is_indexed(drawable)) return PixelKind::kIndexed;
  return PixelKind::kOther;
}

int32_t width(int32_t drawable) {
  return gimp_drawable_width(drawable);
}

int32_t height(int32_t drawable) {
  return gimp_drawable_height(drawable);
}

const Babl* format(int32_t drawable) {
  return gimp_drawable_get_format(drawable);
}

bool has_alpha(int32_t drawable) {
  return gimp_drawable_has_alpha(drawable);
}

bool alpha_locked(int32_t drawable) {
  return gimp_item_is_layer(drawable) && gimp_layer_get_lock_alpha(drawable);
}

GeglBuffer* buffer(int32_t drawable) {
  return gimp_drawable_get_buffer(drawable);
}

GeglBuffer* shadow_buffer(int32_t drawable) {
  return gimp_drawable_get_shadow_buffer(drawable);
}

bool mask_intersect(int32_t drawable, int32_t& x, int32_t& y, int32_t& width, int32_t& height) {
  gint left = 0, top = 0, columns = 0, rows = 0;
  const bool any = gimp_drawable_mask_intersect(drawable, &left, &top, &columns, &rows);
  x = left;
  y = top;
  width = columns;
  height = rows;
  return any;
}

bool selection_empty(int32_t image) {
  return gimp_selection_is_empty(image);
}

bool undo_group_start(int32_t image) {
  return gimp_image_undo_group_start(image);
}

void undo_group_end(int32_t image) {
  gimp_image_undo_group_end(image);
}

bool merge_shadow(int32_t drawable) {
  return gimp_drawable_merge_shadow(drawable, TRUE);
}

void update(int32_t drawable, int32_t x, int32_t y, int32_t width, int32_t height) {
  gimp_drawable_update(drawable, x, y, width, height);
}

std::string last_error() {
  const gchar* error = gimp_get_pdb_error();
  return error && *error ? std::string(error) : std::string("GIMP gave no reason");
}

bool active_pattern(Pattern& pattern) {
  gchar* name = gimp_context_get_pattern();
  if (name) pattern.name = name;
  gint width = 0, height = 0, bpp = 0, count = 0;
  guint8* bytes = nullptr;
  const bool read = name && gimp_pattern_get_pixels(name, &width, &height, &bpp, &count, &bytes) &&
                    width > 0 && height > 0 && bpp >= 1 && bpp <= 4 &&
                    static_cast<int64_t>(count) == static_cast<int64_t>(width) * height * bpp;
  if (read) {
    pattern.width = width;
    pattern.height = height;
    pattern.bytes_per_pixel = bpp;
    pattern.pixels.assign(bytes, bytes + count);
  }
  g_free(bytes);
  g_free(name);
  return read;
}

std::string item_name(int32_t item) {
  gchar* name = gimp_item_get_name(item);
  std::string text = name ? name : "";
  g_free(name);
  return text;
}

bool is_group(int32_t item) {
  return gimp_item_is_group(item);
}

bool is_layer_mask(int32_t item) {
  return gimp_item_is_layer_mask(item);
}

bool is_text_layer(int32_t item) {
  return gimp_item_is_text_layer(item);
}

bool pixels_locked(int32_t item) {
  return gimp_item_get_lock_content(item);
}

std::vector<std::string> effect_names(int32_t /*drawable*/) {
  return {};  // GIMP 2.10 applies its filters destructively
}

int32_t add_layer(int32_t image, const std::string& name, int32_t width, int32_t height) {
  const gint32 layer = gimp_layer_new(image, name.c_str(), width, height, GIMP_RGBA_IMAGE, 100.0,
                                      GIMP_LAYER_MODE_NORMAL);
  if (layer < 0) return -1;
  if (!gimp_image_insert_layer(image, layer, 0, -1)) return -1;
  return layer;
}

std::string image_file(int32_t image) {
  gchar* file = gimp_image_get_filename(image);
  std::string path = file ? file : "";
  g_free(file);
  return path;
}

std::string image_name(int32_t image) {
  gchar* name = gimp_image_get_name(image);
  std::string text = name ? name : "";
  g_free(name);
  return text;
}

std::string drawable_name(int32_t drawable) {
  gchar* name = gimp_item_get_name(drawable);
  std::string text = name ? name : "";
  g_free(name);
  return text;
}

HostWindow image_window() {
  // GIMP 2.10 runs on X11 alone and names the window by its XID.
  const gint32 display = gimp_default_display();
  if (display < 0 || !gimp_display_is_valid(display)) return {};
  HostWindow window{static_cast<guint32>(gimp_display_get_window_handle(display)), {}};
  find_image_area(window);
  return window;
}

std::string colour_profile(int32_t image) {
  return icc_bytes(gimp_image_get_color_profile(image));
}

bool has_layer_named(int32_t image, const std::string& name) {
  return gimp_image_get_layer_by_name(image, name.c_str()) != -1;
}

}  // namespace tarvo::gimp_api
