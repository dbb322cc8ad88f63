#pragma once
// What the GIMP host asks of libgimp, in one vocabulary for every GIMP version. Images and
// drawables go by their id, which GIMP 2.10 and GIMP 3 both give; each version's adapter
// (gimp2_api.cpp, gimp3_api.cpp) maps these calls onto its libgimp, and a plug-in links exactly one
// of them, with gimp_api_common.cpp for the calls both libgimps spell alike.
//
// GEGL and babl are the same libraries under both versions: pixels move through GeglBuffers here.

#include <gegl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/host_window.h"

typedef struct _GimpColorProfile GimpColorProfile;

namespace tarvo::gimp_api {

enum class PixelKind { kRgb, kGrey, kIndexed, kOther };

bool image_valid(int32_t image);
bool drawable_valid(int32_t drawable);
PixelKind pixel_kind(int32_t drawable);
int32_t width(int32_t drawable);
int32_t height(int32_t drawable);
// The drawable's own pixel format, colour space included.
const Babl* format(int32_t drawable);
bool has_alpha(int32_t drawable);
// Whether the drawable is a layer whose "lock alpha channel" is on.
bool alpha_locked(int32_t drawable);
// New references, which the caller unrefs; null when GIMP gave none.
GeglBuffer* buffer(int32_t drawable);
GeglBuffer* shadow_buffer(int32_t drawable);
// The rectangle of the drawable the selection leaves to paint on; false when it leaves nothing.
bool mask_intersect(int32_t drawable, int32_t& x, int32_t& y, int32_t& width, int32_t& height);
bool selection_empty(int32_t image);
bool undo_group_start(int32_t image);
void undo_group_end(int32_t image);
// Merges the shadow buffer into the drawable, as an undoable step.
bool merge_shadow(int32_t drawable);
void update(int32_t drawable, int32_t x, int32_t y, int32_t width, int32_t height);
void flush_displays();
// What GIMP said about the last call that failed.
std::string last_error();

void progress_start(const char* message);
void progress_update(double fraction);
void progress_end();
void message(const std::string& text);

// The pattern active in GIMP's context: its name and pixels (bytes_per_pixel 1 to 4, rows packed).
struct Pattern {
  std::string name;
  int32_t width = 0, height = 0, bytes_per_pixel = 0;
  std::vector<uint8_t> pixels;
};
// False when it cannot be read; name is then what is known of it.
bool active_pattern(Pattern& pattern);

// The name GIMP's Layers dock shows for a layer or channel.
std::string item_name(int32_t item);
// What may keep a drawable from taking paint: a layer group, a layer mask, a text layer (whose
// text painting discards), and "Lock pixels".
bool is_group(int32_t item);
bool is_layer_mask(int32_t item);
bool is_text_layer(int32_t item);
bool pixels_locked(int32_t item);
// The names of the effects GIMP applies over the drawable's pixels (GIMP 3's non-destructive
// filters), in the order the Layers dock shows them; none in GIMP 2.10.
std::vector<std::string> effect_names(int32_t drawable);

// Adds a new RGB layer with alpha, width x height and fully transparent, named name, to the image
// above the active layer; its id, or -1 when GIMP refused.
int32_t add_layer(int32_t image, const std::string& name, int32_t width, int32_t height);

// The image's file path, empty for an image never saved; and the name GIMP shows for it.
std::string image_file(int32_t image);
std::string image_name(int32_t image);
// The name GIMP shows for the drawable (a layer's name).
std::string drawable_name(int32_t drawable);
// The ICC profile GIMP holds for the image, as its bytes; empty when it has none (GIMP's sRGB).
std::string colour_profile(int32_t image);
// The bytes of profile (none for a null one); drops the reference the caller was given.
std::string icc_bytes(GimpColorProfile* profile);
// Whether the image has a layer of that name (GIMP keeps layer names unique within an image).
bool has_layer_named(int32_t image, const std::string& name);

// The image window the plug-in was started from, as the window system names it; empty when there
// is none (no display, or a window system GIMP names its windows in otherwise).
HostWindow image_window();
// Where GIMP's image window shows the image (image_left, image_top): in single-window mode to the
// right of the docks at its left and below its image tabs, as GIMP's session file lays them out.
void find_image_area(HostWindow& window);

}  // namespace tarvo::gimp_api
