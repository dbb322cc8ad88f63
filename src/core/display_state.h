#pragma once
// The canvas display as plain state: the view, the off-screen display surface and its blit's
// working memory, and the window it is shown in.
//
// The surface is a 32-bit top-down pixel buffer laid out as a device-independent bitmap: each pixel
// is four bytes in memory, blue, green, red and a fourth byte that carries no colour; rows are
// DibInfo.biWidth pixels long, padded to a multiple of 4.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/canvas_window.h"
#include "core/view_state.h"

namespace tarvo {

class RowHelper;  // a thread that shares long passes over rows; the canvas subsystem's

// A zoomed-in row's column map, prepared once per blit: surface column i shows word `offset[i]`
// of the interleaved stretch of its image row. Zoomed in, offsets rise by 0 or 1 from one column
// to the next, so any 8 neighbouring surface columns show at most 8 neighbouring words; `lanes`
// holds, for each group of 8 columns, their offsets relative to the group's first one, which lets
// the AVX2 version fill 8 pixels with one load and one permute.
struct WideningMap {
  std::vector<int32_t> offset;
  std::vector<int32_t> lanes;  // 8 entries per whole group of 8 columns
  int32_t stretch = 0;         // words of the interleaved stretch: offset.back() + 1
};

// The bitmap information header of the surface, as the display code of the window system reads it.
struct DibHeader {
  int32_t biSize = 40;
  int32_t biWidth = 0;   // floor(BufferWidth * Zoom) rounded up to a multiple of 4
  int32_t biHeight = 0;  // -floor(BufferHeight * Zoom): negative, rows run top-down
  int16_t biPlanes = 1;
  int16_t biBitCount = 32;
  int32_t biCompression = 0;  // uncompressed RGB
  int32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  int32_t biClrUsed = 0;
  int32_t biClrImportant = 0;
};

// The blit's working memory, kept with the surface so that a blit allocates nothing once the
// client and zoom have settled.
struct BlitScratch {
  // The image column each surface column of the blit shows.
  std::vector<int32_t> column_source;
  // Zoomed in: where in the interleaved stretch of its image row each surface column finds its
  // pixel, and that stretch, one buffer per worker.
  WideningMap widening;
  std::vector<uint32_t> stretch[2];
  // The second thread that shares a large blit's rows; none: the caller does them all.
  RowHelper* helper = nullptr;
};

struct DisplaySurface {
  DibHeader DibInfo;
  // The pixels, row pitch DibInfo.biWidth * 4 bytes; null when no surface exists.
  std::unique_ptr<uint32_t[]> DibBits;
  // Stands in for the memory device context: false means no surface.
  bool DibDC = false;
  // The scaled pixel at the surface's top-left corner.
  int32_t origin_x = 0, origin_y = 0;
  // The whole scaled image's size, floor(BufferWidth * Zoom) x floor(BufferHeight * Zoom).
  int32_t scaled_width = 0, scaled_height = 0;
  BlitScratch scratch;

  int32_t width() const { return DibInfo.biWidth; }
  int32_t height() const { return -DibInfo.biHeight; }
  uint32_t* row(int32_t v) { return DibBits.get() + static_cast<std::size_t>(v) * DibInfo.biWidth; }
  const uint32_t* row(int32_t v) const {
    return DibBits.get() + static_cast<std::size_t>(v) * DibInfo.biWidth;
  }
};

// The canvas as the engine draws on it: the view, its surface, the window it is shown in, and the
// title the zoom caption is built from.
struct CanvasDisplay {
  ViewState view;
  DisplaySurface surface;
  CanvasWindow* window = nullptr;
  std::string AppTitle;
};

struct ImageSize {
  int32_t BufferWidth = 0;
  int32_t BufferHeight = 0;
};

}  // namespace tarvo
