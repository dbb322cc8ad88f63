#pragma once
// The brush settings the tools panel writes and the renderer reads at its next composite. The
// colour is held as floats carrying whole numbers 0..255.

#include <cstdint>

namespace tarvo {

// How the brush walk brings its sub-segments into the preview: Fused composites each pixel once
// per pointer event (the default), PerSegment composites every sub-segment's box in turn (the
// plain form the fused pass is checked against). Both give the same planes.
enum class PreviewPass { Fused, PerSegment };

struct BrushSettings {
  float BrushSize = 2.0f;     // brush radius in pixels, 1..32 ("Size")
  float PenPress = 255.0f;    // dab strength 0..255 ("Press")
  float Opacity = 255.0f;     // coverage factor 0..255 ("Opacity")
  float StepPercent = 15.0f;  // dab spacing, percent of the start width ("Step")
  int32_t PaperGrain = 0;     // paper texture strength 0..255, 0 = off ("Paper")
  int32_t BrushCurve = 0;     // 0 none, 1 rim curve, 2 hardening curve
  int32_t Emboss = 0;         // relief shading when 1 or more
  int32_t BlendMode = 0;      // blend-mode code 0..10
  float ColorR = 0.0f, ColorG = 0.0f, ColorB = 0.0f;
  int32_t ColorHue = 0, ColorSat = 0, ColorVal = 0;
  PreviewPass preview_pass = PreviewPass::Fused;
};

}  // namespace tarvo
