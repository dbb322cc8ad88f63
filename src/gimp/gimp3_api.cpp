// The host's libgimp calls for GIMP 3, where images and drawables are objects: each call looks its
// object up by id (libgimp owns what the lookup returns).
#include <libgimp/gimp.h>

#include <cstring>

#include "gimp/gimp_api.h"

namespace tarvo::gimp_api {

namespace {

GimpImage* image_of(int32_t id) {
  return gimp_image_get_by_id(id);
}

GimpDrawable* drawable_of(int32_t id) {
  GimpItem* item = gimp_item_get_by_id(id);
  return item && GIMP_IS_DRAWABLE(item) ? GIMP_DRAWABLE(item) : nullptr;
}

}  // namespace

bool image_valid(int32_t image) {
  GimpImage* object = image_of(image);
  return object && gimp_image_is_valid(object);
}

bool drawable_valid(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  return object && gimp_item_is_valid(GIMP_ITEM(object));
}

PixelKind pixel_kind(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  if (!object) return PixelKind::kOther;
  if (gimp_drawable_is_rgb(object)) return PixelKind::kRgb;
  if (gimp_drawable_is_gray(object)) return PixelKind::kGrey;
  if (gimp_drawable_is_indexed(object)) return PixelKind::kIndexed;
  return PixelKind::kOther;
}

int32_t width(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  return object ? gimp_drawable_get_width(object) : 0;
}

int32_t height(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  return object ? gimp_drawable_get_height(object) : 0;
}

const Babl* format(int32_t drawable) {
  return gimp_drawable_get_format(drawable_of(drawable));
}

bool has_alpha(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  return object && gimp_drawable_has_alpha(object);
}

bool alpha_locked(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  return object && GIMP_IS_LAYER(object) && gimp_layer_get_lock_alpha(GIMP_LAYER(object));
}

GeglBuffer* buffer(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  return object ? gimp_drawable_get_buffer(object) : nullptr;
}

GeglBuffer* shadow_buffer(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  return object ? gimp_drawable_get_shadow_buffer(object) : nullptr;
}

bool mask_intersect(int32_t drawable, int32_t& x, int32_t& y, int32_t& width, int32_t& height) {
  gint left = 0, top = 0, columns = 0, rows = 0;
  GimpDrawable* object = drawable_of(drawable);
  const bool any = object && gimp_drawable_mask_intersect(object, &left, &top, &columns, &rows);
  x = left;
  y = top;
  width = columns;
  height = rows;
  return any;
}

bool selection_empty(int32_t image) {
  GimpImage* object = image_of(image);
  return !object || gimp_selection_is_empty(object);
}

bool undo_group_start(int32_t image) {
  GimpImage* object = image_of(image);
  return object && gimp_image_undo_group_start(object);
}

void undo_group_end(int32_t image) {
  if (GimpImage* object = image_of(image)) gimp_image_undo_group_end(object);
}

bool merge_shadow(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  return object && gimp_drawable_merge_shadow(object, TRUE);
}

void update(int32_t drawable, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (GimpDrawable* object = drawable_of(drawable)) {
    gimp_drawable_update(object, x, y, width, height);
  }
}

std::string last_error() {
  const gchar* error = gimp_pdb_get_last_error(gimp_get_pdb());
  return error && *error ? std::string(error) : std::string("GIMP gave no reason");
}

bool active_pattern(Pattern& pattern) {
  GimpPattern* active = gimp_context_get_pattern();
  if (!active) return false;
  if (const gchar* name = gimp_resource_get_name(GIMP_RESOURCE(active))) pattern.name = name;
  gint width = 0, height = 0, bpp = 0;
  if (!gimp_pattern_get_info(active, &width, &height, &bpp) || width <= 0 || height <= 0 ||
      bpp < 1 || bpp > 4) {
    return false;
  }
  static const char* const kFormats[] = {"Y' u8", "Y'A u8", "R'G'B' u8", "R'G'B'A u8"};
  const Babl* bytes = babl_format(kFormats[bpp - 1]);
  GeglBuffer* pixels = gimp_pattern_get_buffer(active, width, height, bytes);
  if (!pixels) return false;
  const GeglRectangle* extent = gegl_buffer_get_extent(pixels);
  const bool read = extent->width == width && extent->height == height;
  if (read) {
    pattern.width = width;
    pattern.height = height;
    pattern.bytes_per_pixel = bpp;
    pattern.pixels.resize(static_cast<std::size_t>(width) * height * bpp);
    gegl_buffer_get(pixels, extent, 1.0, bytes, pattern.pixels.data(), width * bpp,
                    GEGL_ABYSS_NONE);
  }
  g_object_unref(pixels);
  return read;
}

std::string item_name(int32_t item) {
  GimpItem* object = gimp_item_get_by_id(item);
  gchar* name = object ? gimp_item_get_name(object) : nullptr;
  std::string text = name ? name : "";
  g_free(name);
  return text;
}

bool is_group(int32_t item) {
  GimpItem* object = gimp_item_get_by_id(item);
  return object && gimp_item_is_group(object);
}

bool is_layer_mask(int32_t item) {
  GimpItem* object = gimp_item_get_by_id(item);
  return object && gimp_item_is_layer_mask(object);
}

bool is_text_layer(int32_t item) {
  GimpItem* object = gimp_item_get_by_id(item);
  return object && gimp_item_is_text_layer(object);
}

bool pixels_locked(int32_t item) {
  GimpItem* object = gimp_item_get_by_id(item);
  return object && gimp_item_get_lock_content(object);
}

std::vector<std::string> effect_names(int32_t drawable) {
  std::vector<std::string> names;
  GimpDrawable* object = drawable_of(drawable);
  if (!object) return names;
  GimpDrawableFilter** filters = gimp_drawable_get_filters(object);
  for (GimpDrawableFilter** filter = filters; filter && *filter; ++filter) {
    if (!gimp_drawable_filter_get_visible(*filter)) continue;
    gchar* name = gimp_drawable_filter_get_name(*filter);
    names.emplace_back(name && *name ? name : "an effect");
    g_free(name);
  }
  g_free(filters);
  return names;
}

int32_t add_layer(int32_t image, const std::string& name, int32_t width, int32_t height) {
  GimpImage* object = image_of(image);
  if (!object) return -1;
  GimpLayer* layer = gimp_layer_new(object, name.c_str(), width, height, GIMP_RGBA_IMAGE, 100.0,
                                    GIMP_LAYER_MODE_NORMAL);
  if (!layer) return -1;
  if (!gimp_image_insert_layer(object, layer, nullptr, -1)) return -1;
  return gimp_item_get_id(GIMP_ITEM(layer));
}

std::string image_file(int32_t image) {
  GimpImage* object = image_of(image);
  if (!object) return {};
  // The image's own file, else the file it was imported from or last exported to.
  GFile* file = gimp_image_get_file(object);
  if (!file) file = gimp_image_get_imported_file(object);
  if (!file) file = gimp_image_get_exported_file(object);
  if (!file) return {};
  gchar* path = g_file_get_path(file);
  g_object_unref(file);
  std::string text = path ? path : "";
  g_free(path);
  return text;
}

std::string image_name(int32_t image) {
  GimpImage* object = image_of(image);
  gchar* name = object ? gimp_image_get_name(object) : nullptr;
  std::string text = name ? name : "";
  g_free(name);
  return text;
}

std::string drawable_name(int32_t drawable) {
  GimpDrawable* object = drawable_of(drawable);
  gchar* name = object ? gimp_item_get_name(GIMP_ITEM(object)) : nullptr;
  std::string text = name ? name : "";
  g_free(name);
  return text;
}

std::string colour_profile(int32_t image) {
  return icc_bytes(image_of(image) ? gimp_image_get_color_profile(image_of(image)) : nullptr);
}

bool has_layer_named(int32_t image, const std::string& name) {
  GimpImage* object = image_of(image);
  return object && gimp_image_get_layer_by_name(object, name.c_str()) != nullptr;
}

namespace {

// GIMP 3 names a window in the terms of the window system it runs on: on X11 by the bytes of its
// XID (an unsigned long), on Wayland by the handle it exported through xdg-foreign, a string that
// ends with its NUL. The eight bytes of an XID hold NULs before the last one; a handle never does.
HostWindow host_window_of(GBytes* handle) {
  gsize size = 0;
  const auto* bytes = static_cast<const char*>(g_bytes_get_data(handle, &size));
  HostWindow window;
  if (!bytes || size == 0) return window;
  if (size > 1 && bytes[size - 1] == '\0' && std::memchr(bytes, '\0', size - 1) == nullptr) {
    window.wayland_handle.assign(bytes, size - 1);
  } else if (size == sizeof(uint64_t)) {
    std::memcpy(&window.x11_id, bytes, sizeof window.x11_id);
  } else if (size == sizeof(uint32_t)) {
    uint32_t narrow = 0;
    std::memcpy(&narrow, bytes, sizeof narrow);
    window.x11_id = narrow;
  }
  return window;
}

}  // namespace

HostWindow image_window() {
  // The window this plug-in's progress shows in: the image window it was started from.
  GBytes* handle = gimp_progress_get_window_handle();
  if (!handle) return {};
  HostWindow window = host_window_of(handle);
  g_bytes_unref(handle);
  find_image_area(window);
  return window;
}

}  // namespace tarvo::gimp_api
