#pragma once
// The image and stroke planes of the canvas and the paper texture, as plain state.
//
// The committed planes RBuffer, GBuffer, BBuffer come from the host with one spare column and row
// (BufferWidth + 1 columns, BufferHeight + 1 rows); the spare column and row are never read or
// written. The previews have the same shape. FXbuffer, the coverage of the stroke in progress, is
// exactly BufferWidth x BufferHeight.
#include <array>
#include <cstdint>

#include "core/layer_planes.h"
#include "core/plane.h"

namespace tarvo {

class RowHelper;  // a thread that shares long passes over rows; the canvas subsystem's

// A rectangle of image pixels after normalisation: whole, ordered, clamped to the image, with
// exclusive right and bottom.
struct PixelRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return left >= right || top >= bottom; }
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

struct CanvasBuffers {
  int32_t BufferWidth = 0;
  int32_t BufferHeight = 0;
  Plane RBuffer, GBuffer, BBuffer;
  Plane RPreview, GPreview, BPreview;
  Plane FXbuffer;
  // For an image with transparency (the host's layer_planes), the committed image's own colours
  // and alpha, shaped as the committed planes; empty otherwise. The committed planes then hold
  // what these look like over white, which the canvas shows: RBuffer(x, y) is
  // over_white(layer.red(x, y), layer.alpha(x, y)), and so on. A commit writes both.
  LayerPlanes layer;
  // Where the previews may differ from the committed planes: every pixel the preview pass has
  // written since the previews were last refreshed. A stroke's commit composites its pixels anew
  // and need not give them what its previews showed (relief at the edge of a box, settings changed
  // during the stroke), so the difference outlives the stroke until a refresh.
  PixelRect previews_differ;
  // The second thread that shares whole-plane copies; none: the caller does them all.
  RowHelper* helper = nullptr;

  // The planes a stroke writes at every move: the previews and the coverage.
  std::array<const Plane*, 4> stroke_planes() const {
    return {&RPreview, &GPreview, &BPreview, &FXbuffer};
  }
};

// The host's paper texture, sampled tiled by the renderer.
struct PaperTexture {
  Plane PaperBuffer;
  int32_t PaperWidth = 0;
  int32_t PaperHeight = 0;
};

}  // namespace tarvo
