#pragma once
// Draws a display tree anti-aliased into a premultiplied RGBA canvas. Fills go through AGG's
// compound rasterizer, which takes SWF's edges as they are (fill0 on one side, fill1 on the
// other), so that neighbouring fills meet without seams; shapes fill even-odd, glyphs non-zero.
// Each layer of a shape draws its fills, then its lines.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "flash/player/node.h"
#include "flash/reader/movie.h"

namespace flash::render {

struct Canvas {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgba;  // premultiplied, rows from the top, no padding
};

// Coverage, 0..255 per pixel, of the masks in force.
struct Mask {
  int width = 0, height = 0;
  std::vector<std::uint8_t> a;
};

class DeviceFonts;

class Renderer {
 public:
  explicit Renderer(const swf::Movie& movie);
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Fills the canvas with the background and draws the tree, the stage fitted into the canvas
  // (all of it visible, aspect kept, centred).
  void render(const player::Node& root, swf::Rgba background, Canvas& canvas);

  // The matrix from stage twips to canvas pixels for a canvas of the given size.
  swf::Matrix stageMatrix(int width, int height) const;

 private:
  struct Surface;
  void drawChildren(const player::Node& parent, const swf::Matrix& m, const swf::ColorTransform& cx,
                    Surface& out, int nesting);
  void drawNode(const player::Node& node, const swf::Matrix& m, const swf::ColorTransform& cx,
                Surface& out, int nesting);
  void drawShape(const swf::Shape& shape, const swf::Matrix& m, const swf::ColorTransform& cx,
                 Surface& out);
  void drawFills(const swf::Layer& layer, const swf::Matrix& m, const swf::ColorTransform& cx,
                 Surface& out);
  void drawLines(const swf::Layer& layer, const swf::Matrix& m, const swf::ColorTransform& cx,
                 Surface& out);
  void drawText(const swf::Text& text, const swf::Matrix& m, const swf::ColorTransform& cx,
                Surface& out);
  void drawEditText(const player::Node& node, const swf::EditText& def, const swf::Matrix& m,
                    const swf::ColorTransform& cx, Surface& out);
  void drawBorder(const swf::Rect& bounds, const swf::Matrix& m, const swf::ColorTransform& cx,
                  Surface& out);
  void drawBitmap(std::uint16_t id, const swf::Bitmap& bitmap, const swf::Matrix& m,
                  const swf::ColorTransform& cx, Surface& out);

 public:
  // One glyph outline placed in canvas pixels.
  struct PlacedGlyph {
    const swf::Shape* shape;
    swf::Matrix matrix;
  };

 private:
  void drawGlyphs(const std::vector<PlacedGlyph>& glyphs, swf::Rgba color,
                  const swf::ColorTransform& cx, Surface& out, const swf::Rect* clip);
  const swf::Shape& morphAt(const swf::MorphShape& morph, std::uint16_t ratio);

  const swf::Movie& movie_;
  struct Agg;
  std::unique_ptr<Agg> agg_;
  std::unique_ptr<DeviceFonts> fonts_;
  std::map<const swf::MorphShape*, std::pair<std::uint16_t, swf::Shape>> morphs_;
};

}  // namespace flash::render
