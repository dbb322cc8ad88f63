#pragma once
// The blend modes as small pure functions of the paint byte p and the image byte i, for the
// compositing loop: each gives exactly the entry BlendTable(p, i, code - 1), which the tests check
// for every pair. Written in integer arithmetic that fits 16 bits so that a loop over pixels
// vectorises; Divide alone needs a division per pixel and is looked up in its table instead.
//
// Screen: the table rounds ((255 - p) / 255) * i + p on a double. The exact value is N / 255 with
// N = 255 p + (255 - p) i, whose fraction k / 255 is never one half, so the double lies far from a
// tie and rounds as the integer (N + 127) div 255 does.

#include <cstdint>

namespace tarvo::blend {

struct Default {
  static constexpr int32_t kCode = 0;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t) { return p; }
};
struct Add {
  static constexpr int32_t kCode = 1;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t i) {
    return static_cast<uint16_t>(p + i > 255 ? 255 : p + i);
  }
};
struct Subtract {
  static constexpr int32_t kCode = 2;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t i) { return static_cast<uint16_t>(i > p ? i - p : 0); }
};
struct Multiply {
  static constexpr int32_t kCode = 3;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t i) { return static_cast<uint16_t>(p * i) / 255; }
};
struct Divide {
  static constexpr int32_t kCode = 4;
  static constexpr bool kTable = true;  // looked up: BlendTable(p, i, 3)
};
struct Screen {
  static constexpr int32_t kCode = 5;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t i) {
    return static_cast<uint16_t>(255 * p + (255 - p) * i + 127) / 255;
  }
};
struct Greater {
  static constexpr int32_t kCode = 6;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t i) { return p > i ? p : i; }
};
struct Less {
  static constexpr int32_t kCode = 7;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t i) { return p < i ? p : i; }
};
struct And {
  static constexpr int32_t kCode = 8;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t i) { return p & i; }
};
struct Or {
  static constexpr int32_t kCode = 9;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t i) { return p | i; }
};
struct Xor {
  static constexpr int32_t kCode = 10;
  static constexpr bool kTable = false;
  static uint16_t apply(uint16_t p, uint16_t i) { return p ^ i; }
};

// Calls f.template operator()<Mode>() for the mode of the given code 0..10.
template <class F>
decltype(auto) with_mode(int32_t code, F&& f) {
  switch (code) {
    case 1:
      return f.template operator()<Add>();
    case 2:
      return f.template operator()<Subtract>();
    case 3:
      return f.template operator()<Multiply>();
    case 4:
      return f.template operator()<Divide>();
    case 5:
      return f.template operator()<Screen>();
    case 6:
      return f.template operator()<Greater>();
    case 7:
      return f.template operator()<Less>();
    case 8:
      return f.template operator()<And>();
    case 9:
      return f.template operator()<Or>();
    case 10:
      return f.template operator()<Xor>();
    default:
      return f.template operator()<Default>();
  }
}

}  // namespace tarvo::blend
