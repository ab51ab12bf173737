#pragma once
// The value types of the SWF file format: colours, matrices, colour transforms, and the shape
// model (styles and edges) as the file states them, in twips.
#include <cstdint>
#include <string>
#include <vector>

#include "flash/flash.h"

namespace flash::swf {

using flash::Rect;

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
  bool operator==(const Rgba&) const = default;
};

// x' = a*x + c*y + tx, y' = b*x + d*y + ty (SWF's ScaleX, RotateSkew0, RotateSkew1, ScaleY).
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  // This matrix applied after `inner`: (this * inner)(p) = this(inner(p)).
  Matrix operator*(const Matrix& inner) const {
    return {a * inner.a + c * inner.b,        b * inner.a + d * inner.b,
            a * inner.c + c * inner.d,        b * inner.c + d * inner.d,
            a * inner.tx + c * inner.ty + tx, b * inner.tx + d * inner.ty + ty};
  }
  double x(double px, double py) const { return a * px + c * py + tx; }
  double y(double px, double py) const { return b * px + d * py + ty; }
  double determinant() const { return a * d - b * c; }
  // The inverse; a singular matrix gives one that maps everything far away.
  Matrix inverse() const;
  static Matrix translate(double x, double y) { return {1, 0, 0, 1, x, y}; }
  static Matrix scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
  bool operator==(const Matrix&) const = default;
};

// c' = clamp(c * mult + add) per channel, add in 0..255 units.
struct ColorTransform {
  double rMul = 1, gMul = 1, bMul = 1, aMul = 1;
  double rAdd = 0, gAdd = 0, bAdd = 0, aAdd = 0;

  // This transform applied after `inner`.
  ColorTransform operator*(const ColorTransform& inner) const {
    return {rMul * inner.rMul,        gMul * inner.gMul,        bMul * inner.bMul,
            aMul * inner.aMul,        rMul * inner.rAdd + rAdd, gMul * inner.gAdd + gAdd,
            bMul * inner.bAdd + bAdd, aMul * inner.aAdd + aAdd};
  }
  Rgba apply(Rgba c) const;
  bool identity() const {
    return rMul == 1 && gMul == 1 && bMul == 1 && aMul == 1 && rAdd == 0 && gAdd == 0 &&
           bAdd == 0 && aAdd == 0;
  }
};

struct GradientStop {
  std::uint8_t ratio = 0;
  Rgba color;
};

struct FillStyle {
  enum class Kind { Solid, Linear, Radial, Focal, Bitmap };
  Kind kind = Kind::Solid;
  Rgba color;
  Matrix matrix;  // gradient square or bitmap pixels to shape space
  std::vector<GradientStop> stops;
  double focal = 0;  // focal point of a focal radial gradient, -1..1
  std::uint16_t bitmapId = 0;
  bool repeat = true;  // bitmap fills: tiled (0x40, 0x42) or clamped at the edges
  bool smooth = true;  // bitmap fills: bilinear (0x40, 0x41) or nearest (0x42, 0x43)
};

struct LineStyle {
  std::uint16_t width = 0;  // twips
  Rgba color;
};

struct Point {
  double x = 0, y = 0;
};

// One edge in twips: a straight line or a quadratic Bézier curve.
struct Segment {
  Point control;  // meaningful only for curves
  Point to;
  bool curve = false;
};

// A run of connected edges with the same styles. Style indices are 1-based into the layer's
// style arrays; 0 means none.
struct Path {
  std::uint32_t fill0 = 0, fill1 = 0, line = 0;
  Point start;
  std::vector<Segment> segments;
};

// The styles and paths between two style changes that bring new style arrays. Flash draws each
// layer's fills, then its lines, before the next layer.
struct Layer {
  std::vector<FillStyle> fills;
  std::vector<LineStyle> lines;
  std::vector<Path> paths;
};

struct Shape {
  Rect bounds;
  std::vector<Layer> layers;
};

}  // namespace flash::swf
