#include "flash/player/bounds.h"

#include <algorithm>
#include <cmath>

namespace flash::player {
namespace {

bool empty(const swf::Rect& r) {
  return r.xMax <= r.xMin && r.yMax <= r.yMin;
}

void unite(swf::Rect& into, const swf::Rect& r, bool& any) {
  if (empty(r)) return;
  if (!any) {
    into = r;
    any = true;
    return;
  }
  into.xMin = std::min(into.xMin, r.xMin);
  into.yMin = std::min(into.yMin, r.yMin);
  into.xMax = std::max(into.xMax, r.xMax);
  into.yMax = std::max(into.yMax, r.yMax);
}

std::int32_t blend(std::int32_t a, std::int32_t b, double t) {
  return std::int32_t(std::lround(double(a) + (double(b) - double(a)) * t));
}

}  // namespace

swf::Rect transformRect(const swf::Rect& r, const swf::Matrix& m) {
  double xs[4] = {double(r.xMin), double(r.xMax), double(r.xMin), double(r.xMax)};
  double ys[4] = {double(r.yMin), double(r.yMin), double(r.yMax), double(r.yMax)};
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  for (int i = 0; i < 4; ++i) {
    double x = m.x(xs[i], ys[i]), y = m.y(xs[i], ys[i]);
    x0 = std::min(x0, x), x1 = std::max(x1, x);
    y0 = std::min(y0, y), y1 = std::max(y1, y);
  }
  auto clamp = [](double v) { return std::int32_t(std::clamp(v, -2e9, 2e9)); };
  return swf::Rect{clamp(std::floor(x0)), clamp(std::ceil(x1)), clamp(std::floor(y0)),
                   clamp(std::ceil(y1))};
}

swf::Rect boundsOf(const Node& node) {
  if (node.character) {
    if (const auto* s = std::get_if<swf::Shape>(node.character)) return s->bounds;
    if (const auto* t = std::get_if<swf::Text>(node.character))
      return transformRect(t->bounds, t->matrix);
    if (const auto* e = std::get_if<swf::EditText>(node.character)) return e->bounds;
    if (const auto* b = std::get_if<swf::Bitmap>(node.character))
      return swf::Rect{0, b->width * 20, 0, b->height * 20};
    if (const auto* m = std::get_if<swf::MorphShape>(node.character)) {
      double t = node.ratio / 65535.0;
      return swf::Rect{blend(m->startBounds.xMin, m->endBounds.xMin, t),
                       blend(m->startBounds.xMax, m->endBounds.xMax, t),
                       blend(m->startBounds.yMin, m->endBounds.yMin, t),
                       blend(m->startBounds.yMax, m->endBounds.yMax, t)};
    }
  }
  swf::Rect r;
  bool any = false;
  for (const auto& [depth, child] : node.children) unite(r, boundsInParent(*child), any);
  return r;
}

swf::Rect boundsInParent(const Node& node) {
  swf::Rect r = boundsOf(node);
  if (empty(r)) return r;
  return transformRect(r, node.matrix);
}

}  // namespace flash::player
