#pragma once
// Conversions between RGB and HSV in the standard hexcone model. Hue is in degrees, 0 up to 360,
// where 0 and 360 are both red; saturation, value and the three colour components are fractions
// 0..1. Callers that hold 0..255 values divide by 255 before the call and multiply after it.

namespace tarvo {

// (r, g, b) of hue h (degrees; any value, taken modulo 360), saturation s and value v. Inside the
// model's range (s and v in 0..1) the results are in 0..1. Outside it the same formulas are applied
// unchanged, so s or v above 1 can give components above 1 (or below 0); callers that pass such
// values clamp the result themselves.
void HSV_To_RGB(float& r, float& g, float& b, float h, float s, float v);

// (h, s, v) of (r, g, b), each 0..1. h is in [0, 360); a grey (r = g = b) has no hue and reports 0,
// with s = 0. Black reports h = 0, s = 0, v = 0.
void RGB_To_HSV(float r, float g, float b, float& h, float& s, float& v);

}  // namespace tarvo
