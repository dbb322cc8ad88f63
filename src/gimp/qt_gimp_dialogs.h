#pragma once
// The GIMP host's questions that need more than a message box's buttons: a layer scaled or resized
// in GIMP while the canvas was open, and saving the painting as a file instead.

#include <string>

#include "gimp/gimp_host.h"

class QWidget;

namespace tarvo {

struct HostImage;

// Tells what changed (what) and asks what to do: keep painting (the default, and Escape), add the
// painting to the image as a new layer, save it as a file, or, when can_scale, paint the strokes
// onto the layer at its new size, scaled by the ratio.
LayerSizeAnswer ask_about_layer_size(QWidget* parent, const std::string& what, bool can_scale);

// Asks where to save the painting (a PNG file named after the layer, in the home folder, unless the
// user names another) and writes it there. Returns the path written, or empty when the user
// cancelled; a file that cannot be written is said, and the user asked again.
std::string save_painting_as_file(QWidget* parent, const HostImage& painting,
                                  const std::string& layer_name);

}  // namespace tarvo
