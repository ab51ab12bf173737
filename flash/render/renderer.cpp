#include "flash/render/renderer.h"

#include <agg_color_rgba.h>
#include <agg_conv_stroke.h>
#include <agg_conv_transform.h>
#include <agg_path_storage.h>
#include <agg_rasterizer_compound_aa.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_scanline.h>
#include <agg_scanline_bin.h>
#include <agg_scanline_u.h>
#include <agg_span_allocator.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "flash/render/fonts.h"

namespace flash::render {

using player::Node;

namespace {

bool finite(const swf::Matrix& m) {
  return std::isfinite(m.a) && std::isfinite(m.b) && std::isfinite(m.c) && std::isfinite(m.d) &&
         std::isfinite(m.tx) && std::isfinite(m.ty);
}

agg::rgba8 premultiplied(swf::Rgba c) {
  unsigned a = c.a;
  return agg::rgba8(agg::int8u((c.r * a + 127) / 255), agg::int8u((c.g * a + 127) / 255),
                    agg::int8u((c.b * a + 127) / 255), agg::int8u(a));
}

// ---- Where spans go: the colour canvas (through the masks in force) or a mask being built.
// Both follow the interface AGG's scanline renderers expect of a base renderer.

class ColorOut {
 public:
  typedef agg::rgba8 color_type;
  ColorOut(Canvas& canvas, const Mask* mask) : c_(canvas), mask_(mask) {}

  void blend_color_hspan(int x, int y, unsigned len, const color_type* colors,
                         const agg::int8u* covers, agg::int8u cover = agg::cover_full) {
    if (!clip(x, y, len, colors, covers)) return;
    std::uint8_t* p = row(y) + std::size_t(x) * 4;
    const std::uint8_t* m = maskRow(y, x);
    for (unsigned i = 0; i < len; ++i, p += 4)
      put(p, colors[i], apply(m, i, covers ? covers[i] : cover));
  }
  void blend_solid_hspan(int x, int y, unsigned len, const color_type& c,
                         const agg::int8u* covers) {
    const color_type* none = nullptr;
    if (!clip(x, y, len, none, covers)) return;
    std::uint8_t* p = row(y) + std::size_t(x) * 4;
    const std::uint8_t* m = maskRow(y, x);
    for (unsigned i = 0; i < len; ++i, p += 4) put(p, c, apply(m, i, covers[i]));
  }
  void blend_hline(int x, int y, int x2, const color_type& c, agg::int8u cover) {
    if (y < 0 || y >= c_.height) return;
    x = std::max(x, 0);
    x2 = std::min(x2, c_.width - 1);
    std::uint8_t* p = row(y) + std::size_t(std::max(x, 0)) * 4;
    const std::uint8_t* m = maskRow(y, x);
    for (int i = 0; x + i <= x2; ++i, p += 4) put(p, c, apply(m, unsigned(i), cover));
  }

 private:
  // Trims a span to the canvas; the rasterizers clip already, so this only guards.
  bool clip(int& x, int y, unsigned& len, const color_type*& colors, const agg::int8u*& covers) {
    if (y < 0 || y >= c_.height || x >= c_.width) return false;
    if (x < 0) {
      unsigned skip = unsigned(-x);
      if (skip >= len) return false;
      len -= skip;
      if (colors) colors += skip;
      if (covers) covers += skip;
      x = 0;
    }
    len = std::min(len, unsigned(c_.width - x));
    return len > 0;
  }
  std::uint8_t* row(int y) { return c_.rgba.data() + std::size_t(y) * std::size_t(c_.width) * 4; }
  const std::uint8_t* maskRow(int y, int x) const {
    return mask_ ? mask_->a.data() + std::size_t(y) * std::size_t(mask_->width) + std::size_t(x)
                 : nullptr;
  }
  static unsigned apply(const std::uint8_t* m, unsigned i, unsigned cover) {
    return m ? (cover * m[i] + 127) / 255 : cover;
  }
  // Premultiplied source over: dst = src * cover + dst * (1 - src.a * cover).
  static void put(std::uint8_t* p, const color_type& c, unsigned cover) {
    if (cover == 0 || c.a == 0) return;
    if (cover == 255 && c.a == 255) {
      p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 255;
      return;
    }
    unsigned keep = 255 * 255 - unsigned(c.a) * cover;
    p[0] = std::uint8_t((c.r * cover * 255 + p[0] * keep + 32512) / 65025);
    p[1] = std::uint8_t((c.g * cover * 255 + p[1] * keep + 32512) / 65025);
    p[2] = std::uint8_t((c.b * cover * 255 + p[2] * keep + 32512) / 65025);
    p[3] = std::uint8_t((c.a * cover * 255 + p[3] * keep + 32512) / 65025);
  }

  Canvas& c_;
  const Mask* mask_;
};

class MaskOut {
 public:
  typedef agg::rgba8 color_type;
  explicit MaskOut(Mask& m) : m_(m) {}

  void blend_color_hspan(int x, int y, unsigned len, const color_type* colors,
                         const agg::int8u* covers, agg::int8u cover = agg::cover_full) {
    for (unsigned i = 0; i < len; ++i)
      put(x + int(i), y, (unsigned(colors[i].a) * (covers ? covers[i] : cover) + 127) / 255);
  }
  void blend_solid_hspan(int x, int y, unsigned len, const color_type& c,
                         const agg::int8u* covers) {
    for (unsigned i = 0; i < len; ++i) put(x + int(i), y, (unsigned(c.a) * covers[i] + 127) / 255);
  }
  void blend_hline(int x, int y, int x2, const color_type& c, agg::int8u cover) {
    for (int i = x; i <= x2; ++i) put(i, y, (unsigned(c.a) * cover + 127) / 255);
  }

 private:
  void put(int x, int y, unsigned cover) {
    if (x < 0 || y < 0 || x >= m_.width || y >= m_.height) return;
    std::uint8_t& a = m_.a[std::size_t(y) * std::size_t(m_.width) + std::size_t(x)];
    a = std::uint8_t(a + (cover * (255u - a) + 127) / 255);
  }
  Mask& m_;
};

// ---- Fill styles as AGG style handlers

class Fills {
 public:
  Fills(const std::vector<swf::FillStyle>& styles, const swf::Matrix& m,
        const swf::ColorTransform& cx, const swf::Movie& movie, bool maskOnly) {
    prepared_.resize(styles.size());
    for (std::size_t i = 0; i < styles.size(); ++i)
      prepare(prepared_[i], styles[i], m, cx, movie, maskOnly);
  }
  // A single solid colour for every style (glyphs).
  explicit Fills(agg::rgba8 solid) {
    prepared_.resize(1);
    prepared_[0].solid = solid;
  }

  bool is_solid(unsigned style) const {
    return style >= prepared_.size() || prepared_[style].kind == Kind::Solid;
  }
  agg::rgba8 color(unsigned style) const {
    return style < prepared_.size() ? prepared_[style].solid : agg::rgba8(0, 0, 0, 0);
  }
  void generate_span(agg::rgba8* span, int x, int y, unsigned len, unsigned style) {
    const Prepared& p = prepared_[style];
    double px = x + 0.5, py = y + 0.5;
    for (unsigned i = 0; i < len; ++i, px += 1) {
      double u = p.inverse.x(px, py), v = p.inverse.y(px, py);
      span[i] = p.kind == Kind::Bitmap ? sample(p, u, v) : p.lut[gradientIndex(p, u, v)];
    }
  }

 private:
  enum class Kind { Solid, Linear, Radial, Focal, Bitmap };
  struct Prepared {
    Kind kind = Kind::Solid;
    agg::rgba8 solid{0, 0, 0, 0};
    std::array<agg::rgba8, 256> lut{};
    swf::Matrix inverse;
    double focal = 0;
    const swf::Bitmap* bitmap = nullptr;
    bool repeat = true, smooth = true;
    swf::ColorTransform cx;
    bool plainColors = true;
  };

  static void prepare(Prepared& p, const swf::FillStyle& f, const swf::Matrix& m,
                      const swf::ColorTransform& cx, const swf::Movie& movie, bool maskOnly) {
    using K = swf::FillStyle::Kind;
    if (maskOnly) {
      p.solid = agg::rgba8(255, 255, 255, 255);
      return;
    }
    switch (f.kind) {
      case K::Solid:
        p.solid = premultiplied(cx.apply(f.color));
        return;
      case K::Linear:
      case K::Radial:
      case K::Focal:
        p.kind = f.kind == K::Linear   ? Kind::Linear
                 : f.kind == K::Radial ? Kind::Radial
                                       : Kind::Focal;
        p.focal = std::clamp(f.focal, -0.98, 0.98);
        p.inverse = (m * f.matrix).inverse();
        buildLut(p, f.stops, cx);
        return;
      case K::Bitmap: {
        const swf::Character* c = movie.find(f.bitmapId);
        const auto* b = c ? std::get_if<swf::Bitmap>(c) : nullptr;
        if (!b || b->width <= 0 || b->height <= 0) {
          p.solid = agg::rgba8(0, 0, 0, 0);  // a missing bitmap draws nothing
          return;
        }
        p.kind = Kind::Bitmap;
        p.bitmap = b;
        p.repeat = f.repeat;
        // Smoothing of bitmap fills came with SWF 8; earlier movies show their pixels.
        p.smooth = f.smooth && movie.header.version >= 8;
        p.inverse = (m * f.matrix).inverse();
        p.cx = cx;
        p.plainColors = cx.identity();
        return;
      }
    }
  }

  static void buildLut(Prepared& p, const std::vector<swf::GradientStop>& stops,
                       const swf::ColorTransform& cx) {
    if (stops.empty()) return;  // all transparent
    for (int t = 0; t < 256; ++t) {
      std::size_t i = 0;
      while (i + 1 < stops.size() && stops[i + 1].ratio <= t) ++i;
      swf::Rgba c = stops[i].color;
      if (t > stops[i].ratio && i + 1 < stops.size()) {
        const auto &a = stops[i], &b = stops[i + 1];
        double k = double(t - a.ratio) / std::max(1, b.ratio - a.ratio);
        auto mix = [k](std::uint8_t x, std::uint8_t y) {
          return std::uint8_t(std::lround(x + (y - x) * k));
        };
        c = {mix(a.color.r, b.color.r), mix(a.color.g, b.color.g), mix(a.color.b, b.color.b),
             mix(a.color.a, b.color.a)};
      }
      p.lut[std::size_t(t)] = premultiplied(cx.apply(c));
    }
  }

  static std::size_t gradientIndex(const Prepared& p, double u, double v) {
    // The gradient square spans -16384..16384 twips.
    double t;
    if (p.kind == Kind::Linear) {
      t = (u + 16384) / 32768;
    } else if (p.kind == Kind::Radial) {
      t = std::sqrt(u * u + v * v) / 16384;
    } else {
      // Focal: the ratio along the ray from the focal point through (u, v) to the circle.
      double fx = p.focal * 16384, dx = u - fx, dy = v;
      double d = std::sqrt(dx * dx + dy * dy);
      if (d < 1e-9) {
        t = 0;
      } else {
        double ux = dx / d;
        double b = fx * ux, c = fx * fx - 16384.0 * 16384.0;
        double s = -b + std::sqrt(b * b - c);
        t = s > 0 ? d / s : 1;
      }
    }
    if (!(t > 0)) return 0;
    return std::size_t(std::min(255.0, t * 255 + 0.5));
  }

  static agg::rgba8 texel(const Prepared& p, long x, long y) {
    const swf::Bitmap& b = *p.bitmap;
    if (p.repeat) {
      x %= b.width;
      y %= b.height;
      if (x < 0) x += b.width;
      if (y < 0) y += b.height;
    } else {
      x = std::clamp<long>(x, 0, b.width - 1);
      y = std::clamp<long>(y, 0, b.height - 1);
    }
    const std::uint8_t* s = &b.rgba[(std::size_t(y) * std::size_t(b.width) + std::size_t(x)) * 4];
    return agg::rgba8(s[0], s[1], s[2], s[3]);
  }

  static agg::rgba8 sample(const Prepared& p, double u, double v) {
    agg::rgba8 c;
    if (!std::isfinite(u) || !std::isfinite(v) || std::fabs(u) > 1e9 || std::fabs(v) > 1e9)
      return agg::rgba8(0, 0, 0, 0);
    if (!p.smooth) {
      c = texel(p, long(std::floor(u)), long(std::floor(v)));
    } else {
      double fu = u - 0.5, fv = v - 0.5;
      long x0 = long(std::floor(fu)), y0 = long(std::floor(fv));
      unsigned wx = unsigned((fu - double(x0)) * 256), wy = unsigned((fv - double(y0)) * 256);
      agg::rgba8 a = texel(p, x0, y0), b = texel(p, x0 + 1, y0), d = texel(p, x0, y0 + 1),
                 e = texel(p, x0 + 1, y0 + 1);
      auto mix = [&](unsigned s00, unsigned s10, unsigned s01, unsigned s11) {
        unsigned top = s00 * (256 - wx) + s10 * wx, bottom = s01 * (256 - wx) + s11 * wx;
        return agg::int8u((top * (256 - wy) + bottom * wy + 32768) >> 16);
      };
      c = agg::rgba8(mix(a.r, b.r, d.r, e.r), mix(a.g, b.g, d.g, e.g), mix(a.b, b.b, d.b, e.b),
                     mix(a.a, b.a, d.a, e.a));
    }
    if (p.plainColors) return c;
    if (c.a == 0) return premultiplied(p.cx.apply(swf::Rgba{0, 0, 0, 0}));
    swf::Rgba straight{agg::int8u(c.r * 255 / c.a), agg::int8u(c.g * 255 / c.a),
                       agg::int8u(c.b * 255 / c.a), c.a};
    return premultiplied(p.cx.apply(straight));
  }

  std::vector<Prepared> prepared_;
};

// Quadratic curves become lines within `tolerance` (a tenth of a pixel where drawn).
template <class Sink>
void flattenQuad(Sink& sink, double tolerance, double x0, double y0, double cx, double cy,
                 double x1, double y1) {
  // n chords stay within |p0 - 2c + p1| / (8 n^2) of the curve.
  double dx = x0 - 2 * cx + x1, dy = y0 - 2 * cy + y1;
  double dd = std::sqrt(dx * dx + dy * dy);
  double chords = std::ceil(std::sqrt(dd / (8 * tolerance)));
  int n = chords >= 1 && chords <= 256 ? int(chords) : chords > 256 ? 256 : 1;
  for (int i = 1; i <= n; ++i) {
    double t = double(i) / n, u = 1 - t;
    sink(u * u * x0 + 2 * u * t * cx + t * t * x1, u * u * y0 + 2 * u * t * cy + t * t * y1);
  }
}

// Calls move(x, y) then line(x, y) for each flattened vertex of the path through m.
template <class Move, class Line>
void walkPath(const swf::Path& path, const swf::Matrix& m, double tolerance, Move move, Line line) {
  double x = m.x(path.start.x, path.start.y), y = m.y(path.start.x, path.start.y);
  move(x, y);
  for (const auto& s : path.segments) {
    double tx = m.x(s.to.x, s.to.y), ty = m.y(s.to.x, s.to.y);
    if (s.curve) {
      flattenQuad(line, tolerance, x, y, m.x(s.control.x, s.control.y),
                  m.y(s.control.x, s.control.y), tx, ty);
    } else {
      line(tx, ty);
    }
    x = tx, y = ty;
  }
}

// The compound rasterizer keeps style numbers in 16 bits.
int styleIndex(std::uint32_t i) {
  return i == 0 || i > 32000 ? -1 : int(i) - 1;
}

}  // namespace

// ---- The renderer's AGG state and the surface being drawn on

struct Renderer::Agg {
  agg::rasterizer_compound_aa<agg::rasterizer_sl_clip_dbl> compound;
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> scanline;
  agg::scanline_u8 sl;
  agg::scanline_bin bin;
  agg::span_allocator<agg::rgba8> spans;
};

struct Renderer::Surface {
  Canvas* canvas = nullptr;  // colour drawing
  const Mask* mask = nullptr;
  Mask* building = nullptr;  // mask drawing
  int width = 0, height = 0;
  const swf::Rect* clip = nullptr;  // extra clip in canvas pixels (edit texts)
};

Renderer::Renderer(const swf::Movie& movie)
    : movie_(movie), agg_(std::make_unique<Agg>()), fonts_(std::make_unique<DeviceFonts>()) {}

Renderer::~Renderer() = default;

swf::Matrix Renderer::stageMatrix(int width, int height) const {
  const Rect& f = movie_.header.frame;
  double sw = (f.xMax - f.xMin) / 20.0, sh = (f.yMax - f.yMin) / 20.0;
  double s = (sw > 0 && sh > 0) ? std::min(width / sw, height / sh) : 1.0;
  double ox = (width - sw * s) / 2, oy = (height - sh * s) / 2;
  return swf::Matrix::translate(ox, oy) * swf::Matrix::scale(s / 20, s / 20) *
         swf::Matrix::translate(-f.xMin, -f.yMin);
}

void Renderer::render(const Node& root, swf::Rgba background, Canvas& canvas) {
  std::size_t bytes = std::size_t(canvas.width) * std::size_t(canvas.height) * 4;
  canvas.rgba.resize(bytes);
  for (std::size_t i = 0; i < bytes; i += 4) {
    canvas.rgba[i] = background.r;
    canvas.rgba[i + 1] = background.g;
    canvas.rgba[i + 2] = background.b;
    canvas.rgba[i + 3] = 255;
  }
  Surface out;
  out.canvas = &canvas;
  out.width = canvas.width;
  out.height = canvas.height;
  // Scripts may move and tint the main movie itself.
  drawChildren(root, stageMatrix(canvas.width, canvas.height) * root.matrix, root.cxform, out, 0);
}

void Renderer::drawChildren(const Node& parent, const swf::Matrix& m, const swf::ColorTransform& cx,
                            Surface& out, int nesting) {
  struct Active {
    int until;
    Mask mask;
  };
  std::vector<Active> masks;
  for (const auto& [depth, child] : parent.children) {
    while (!masks.empty() && depth > masks.back().until) masks.pop_back();
    Surface here = out;
    if (!masks.empty()) {
      if (out.building) continue;  // masks within a mask do not add to it
      here.mask = &masks.back().mask;
    }
    if (child->clipDepth) {
      Active a{child->clipDepth,
               Mask{out.width, out.height,
                    std::vector<std::uint8_t>(std::size_t(out.width) * std::size_t(out.height))}};
      Surface build;
      build.building = &a.mask;
      build.width = out.width;
      build.height = out.height;
      drawNode(*child, m * child->matrix, swf::ColorTransform{}, build, nesting + 1);
      if (here.mask)
        for (std::size_t i = 0; i < a.mask.a.size(); ++i)
          a.mask.a[i] = std::uint8_t((a.mask.a[i] * here.mask->a[i] + 127) / 255);
      masks.push_back(std::move(a));
      continue;
    }
    if (!child->visible) continue;
    drawNode(*child, m * child->matrix, cx * child->cxform, here, nesting + 1);
  }
}

void Renderer::drawNode(const Node& node, const swf::Matrix& m, const swf::ColorTransform& cx,
                        Surface& out, int nesting) {
  if (!finite(m) || nesting > 64) return;
  switch (node.kind) {
    case Node::Kind::Shape:
      drawShape(std::get<swf::Shape>(*node.character), m, cx, out);
      break;
    case Node::Kind::Morph:
      drawShape(morphAt(std::get<swf::MorphShape>(*node.character), node.ratio), m, cx, out);
      break;
    case Node::Kind::Bitmap:
      drawBitmap(node.characterId, std::get<swf::Bitmap>(*node.character), m, cx, out);
      break;
    case Node::Kind::Text:
      drawText(std::get<swf::Text>(*node.character), m, cx, out);
      break;
    case Node::Kind::EditText:
      drawEditText(node, std::get<swf::EditText>(*node.character), m, cx, out);
      break;
    case Node::Kind::Button:
    case Node::Kind::Clip:
      drawChildren(node, m, cx, out, nesting);
      break;
  }
}

void Renderer::drawShape(const swf::Shape& shape, const swf::Matrix& m,
                         const swf::ColorTransform& cx, Surface& out) {
  for (const auto& layer : shape.layers) {
    drawFills(layer, m, cx, out);
    drawLines(layer, m, cx, out);
  }
}

void Renderer::drawFills(const swf::Layer& layer, const swf::Matrix& m,
                         const swf::ColorTransform& cx, Surface& out) {
  auto& ras = agg_->compound;
  ras.reset();
  ras.clip_box(0, 0, out.width, out.height);
  ras.filling_rule(agg::fill_even_odd);
  bool any = false;
  for (const auto& path : layer.paths) {
    int left = styleIndex(path.fill0), right = styleIndex(path.fill1);
    if (left < 0 && right < 0) continue;
    if (left >= int(layer.fills.size())) left = -1;
    if (right >= int(layer.fills.size())) right = -1;
    if (left < 0 && right < 0) continue;
    ras.styles(left, right);
    walkPath(
        path, m, 0.1, [&](double x, double y) { ras.move_to_d(x, y); },
        [&](double x, double y) { ras.line_to_d(x, y); });
    any = true;
  }
  if (!any) return;
  Fills fills(layer.fills, m, cx, movie_, out.building != nullptr);
  if (out.building) {
    MaskOut sink(*out.building);
    agg::render_scanlines_compound(ras, agg_->sl, agg_->bin, sink, agg_->spans, fills);
  } else {
    ColorOut sink(*out.canvas, out.mask);
    agg::render_scanlines_compound(ras, agg_->sl, agg_->bin, sink, agg_->spans, fills);
  }
}

void Renderer::drawLines(const swf::Layer& layer, const swf::Matrix& m,
                         const swf::ColorTransform& cx, Surface& out) {
  if (layer.lines.empty()) return;
  // Lines are stroked in the shape's own space and then transformed, so that a stretched shape
  // has stretched lines, as in Flash. Lines of a pixel or less (hairlines among them) stay a
  // pixel wide.
  double scale = std::sqrt(std::fabs(m.determinant()));
  double stretch = std::sqrt(std::max(m.a * m.a + m.b * m.b, m.c * m.c + m.d * m.d));
  if (!(scale > 0) || !(stretch > 0)) return;
  for (std::size_t style = 1; style <= layer.lines.size(); ++style) {
    const swf::LineStyle& ls = layer.lines[style - 1];
    bool thin = ls.width * scale <= 1.5;
    const swf::Matrix space = thin ? m : swf::Matrix{};
    double tolerance = thin ? 0.1 : 0.1 / stretch;
    agg::path_storage polylines;
    bool any = false;
    for (const auto& path : layer.paths) {
      if (path.line != style || path.segments.empty()) continue;
      double sx = 0, sy = 0, lx = 0, ly = 0;
      walkPath(
          path, space, tolerance,
          [&](double x, double y) {
            polylines.move_to(x, y);
            sx = lx = x, sy = ly = y;
          },
          [&](double x, double y) {
            polylines.line_to(x, y);
            lx = x, ly = y;
          });
      if (std::fabs(lx - sx) < 1e-6 && std::fabs(ly - sy) < 1e-6) polylines.close_polygon();
      any = true;
    }
    if (!any) continue;
    agg::conv_stroke<agg::path_storage> stroke(polylines);
    stroke.width(thin ? std::max(1.0, ls.width * scale) : double(ls.width));
    stroke.line_join(agg::round_join);
    stroke.line_cap(agg::round_cap);
    stroke.approximation_scale(thin ? 1.0 : stretch);
    agg::trans_affine toCanvas =
        thin ? agg::trans_affine() : agg::trans_affine(m.a, m.b, m.c, m.d, m.tx, m.ty);
    agg::conv_transform<agg::conv_stroke<agg::path_storage>> placed(stroke, toCanvas);
    auto& ras = agg_->scanline;
    ras.reset();
    ras.clip_box(0, 0, out.width, out.height);
    ras.filling_rule(agg::fill_non_zero);
    ras.add_path(placed);
    agg::rgba8 color =
        out.building ? agg::rgba8(255, 255, 255, 255) : premultiplied(cx.apply(ls.color));
    if (out.building) {
      MaskOut sink(*out.building);
      agg::render_scanlines_aa_solid(ras, agg_->sl, sink, color);
    } else {
      ColorOut sink(*out.canvas, out.mask);
      agg::render_scanlines_aa_solid(ras, agg_->sl, sink, color);
    }
  }
}

void Renderer::drawGlyphs(const std::vector<PlacedGlyph>& glyphs, swf::Rgba color,
                          const swf::ColorTransform& cx, Surface& out, const swf::Rect* clip) {
  if (glyphs.empty()) return;
  auto& ras = agg_->compound;
  ras.reset();
  if (clip)
    ras.clip_box(std::max(0, clip->xMin), std::max(0, clip->yMin), std::min(out.width, clip->xMax),
                 std::min(out.height, clip->yMax));
  else
    ras.clip_box(0, 0, out.width, out.height);
  ras.filling_rule(agg::fill_non_zero);
  bool any = false;
  for (const auto& g : glyphs) {
    if (!finite(g.matrix)) continue;
    for (const auto& layer : g.shape->layers)
      for (const auto& path : layer.paths) {
        if (!path.fill0 && !path.fill1) continue;
        ras.styles(path.fill0 ? 0 : -1, path.fill1 ? 0 : -1);
        walkPath(
            path, g.matrix, 0.1, [&](double x, double y) { ras.move_to_d(x, y); },
            [&](double x, double y) { ras.line_to_d(x, y); });
        any = true;
      }
  }
  if (!any) return;
  Fills fills(out.building ? agg::rgba8(255, 255, 255, 255) : premultiplied(cx.apply(color)));
  if (out.building) {
    MaskOut sink(*out.building);
    agg::render_scanlines_compound(ras, agg_->sl, agg_->bin, sink, agg_->spans, fills);
  } else {
    ColorOut sink(*out.canvas, out.mask);
    agg::render_scanlines_compound(ras, agg_->sl, agg_->bin, sink, agg_->spans, fills);
  }
}

void Renderer::drawText(const swf::Text& text, const swf::Matrix& m, const swf::ColorTransform& cx,
                        Surface& out) {
  swf::Matrix base = m * text.matrix;
  std::vector<PlacedGlyph> glyphs;
  for (std::size_t i = 0; i < text.runs.size(); ++i) {
    const swf::TextRun& run = text.runs[i];
    const swf::Character* c = movie_.find(run.fontId);
    const auto* font = c ? std::get_if<swf::Font>(c) : nullptr;
    if (!font) continue;
    double scale = run.height / font->em;
    double x = run.x;
    for (const auto& g : run.glyphs) {
      if (g.index < font->glyphs.size())
        glyphs.push_back({&font->glyphs[g.index], base * swf::Matrix::translate(x, run.y) *
                                                      swf::Matrix::scale(scale, scale)});
      x += g.advance;
    }
    // Runs of one colour are drawn together, so that touching glyphs blend once.
    bool last = i + 1 == text.runs.size() || !(text.runs[i + 1].color == run.color);
    if (last) {
      drawGlyphs(glyphs, run.color, cx, out, nullptr);
      glyphs.clear();
    }
  }
}

void Renderer::drawBitmap(std::uint16_t id, const swf::Bitmap& bitmap, const swf::Matrix& m,
                          const swf::ColorTransform& cx, Surface& out) {
  swf::Layer layer;
  swf::FillStyle fill;
  fill.kind = swf::FillStyle::Kind::Bitmap;
  fill.bitmapId = id;
  fill.repeat = false;
  fill.matrix = swf::Matrix::scale(20, 20);
  layer.fills.push_back(fill);
  swf::Path p;
  p.fill1 = 1;
  double w = bitmap.width * 20.0, h = bitmap.height * 20.0;
  p.start = {0, 0};
  for (auto pt : {swf::Point{w, 0}, swf::Point{w, h}, swf::Point{0, h}, swf::Point{0, 0}})
    p.segments.push_back({{}, pt, false});
  layer.paths.push_back(p);
  drawFills(layer, m, cx, out);
}

const swf::Shape& Renderer::morphAt(const swf::MorphShape& morph, std::uint16_t ratio) {
  auto it = morphs_.find(&morph);
  if (it != morphs_.end() && it->second.first == ratio) return it->second.second;
  double t = ratio / 65535.0;
  auto mix = [t](double a, double b) { return a + (b - a) * t; };
  auto mixColor = [&](swf::Rgba a, swf::Rgba b) {
    return swf::Rgba{
        std::uint8_t(std::lround(mix(a.r, b.r))), std::uint8_t(std::lround(mix(a.g, b.g))),
        std::uint8_t(std::lround(mix(a.b, b.b))), std::uint8_t(std::lround(mix(a.a, b.a)))};
  };
  auto mixMatrix = [&](const swf::Matrix& a, const swf::Matrix& b) {
    return swf::Matrix{mix(a.a, b.a), mix(a.b, b.b),   mix(a.c, b.c),
                       mix(a.d, b.d), mix(a.tx, b.tx), mix(a.ty, b.ty)};
  };
  swf::Shape s;
  s.bounds = morph.startBounds;
  swf::Layer layer;
  for (const auto& f : morph.fills) {
    swf::FillStyle out = f.start;
    out.color = mixColor(f.start.color, f.end.color);
    out.matrix = mixMatrix(f.start.matrix, f.end.matrix);
    out.focal = mix(f.start.focal, f.end.focal);
    for (std::size_t i = 0; i < out.stops.size() && i < f.end.stops.size(); ++i) {
      out.stops[i].ratio =
          std::uint8_t(std::lround(mix(f.start.stops[i].ratio, f.end.stops[i].ratio)));
      out.stops[i].color = mixColor(f.start.stops[i].color, f.end.stops[i].color);
    }
    layer.fills.push_back(out);
  }
  for (const auto& l : morph.lines)
    layer.lines.push_back(
        swf::LineStyle{std::uint16_t(std::lround(mix(l.start.width, l.end.width))),
                       mixColor(l.start.color, l.end.color)});
  for (std::size_t i = 0; i < morph.start.size() && i < morph.end.size(); ++i) {
    const swf::Path &a = morph.start[i], &b = morph.end[i];
    swf::Path p{
        a.fill0, a.fill1, a.line, {mix(a.start.x, b.start.x), mix(a.start.y, b.start.y)}, {}};
    for (std::size_t k = 0; k < a.segments.size() && k < b.segments.size(); ++k) {
      const swf::Segment &x = a.segments[k], &y = b.segments[k];
      p.segments.push_back({{mix(x.control.x, y.control.x), mix(x.control.y, y.control.y)},
                            {mix(x.to.x, y.to.x), mix(x.to.y, y.to.y)},
                            x.curve});
    }
    layer.paths.push_back(std::move(p));
  }
  s.layers.push_back(std::move(layer));
  auto& slot = morphs_[&morph];
  slot = {ratio, std::move(s)};
  return slot.second;
}

}  // namespace flash::render
