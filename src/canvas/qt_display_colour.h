#pragma once
// The canvas's colour management, for display only: an image whose colours are in a space of its
// own (an ICC profile embedded in the file, or GIMP's image profile) is shown converted to sRGB,
// as GIMP shows it on a screen without a profile of its own. Nothing else changes: the planes that
// are painted and written keep the image's own values.
//
// Images carry matrix-and-curve profiles (Adobe RGB, Display P3, ProPhoto...): each channel's
// curve, then a 3 x 3 matrix, give linear light. Each channel's 256 levels are converted once by
// Qt's own transform to linear sRGB (unclamped), so that a shown pixel is the sum of its three
// channels' entries (in fixed point), encoded to sRGB by a table fine enough to stay within a level
// of Qt's conversion, at a few nanoseconds a pixel. A profile of another kind is not converted (the
// conversion checks itself against Qt's at load). An image without a profile, or with sRGB's, has
// no conversion at all.

#include <QByteArray>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarvo {

class DisplayColour {
 public:
  // The conversion from the profile to sRGB; null when there is nothing to convert (no profile,
  // one Qt cannot read, sRGB's own) or the profile is not of the matrix-and-curve kind.
  static std::unique_ptr<DisplayColour> from_profile(const QByteArray& icc);

  // Converts n surface pixels (0xFFRRGGBB words) in place.
  void convert(uint32_t* pixels, int32_t n) const;

 private:
  DisplayColour() = default;
  uint32_t shown(uint32_t pixel) const;

  // Linear light from 0 to 1 in steps of 1 / kEncodeSteps: the unit of the tables below.
  static constexpr int32_t kEncodeSteps = 65536;
  // Linear sRGB (R, G, B) of each level of each channel alone, the black point taken out.
  std::array<std::array<std::array<int32_t, 3>, 256>, 3> channel_{};
  std::array<int32_t, 3> black_{};
  std::vector<uint8_t> encode_;  // kEncodeSteps + 1 entries: the sRGB level of each step
};

}  // namespace tarvo
