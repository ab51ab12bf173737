#include "flash/reader/records.h"

#include <algorithm>
#include <cmath>

namespace flash::swf {

Matrix Matrix::inverse() const {
  double det = determinant();
  if (std::fabs(det) < 1e-12 || !std::isfinite(det)) return Matrix{0, 0, 0, 0, 1e12, 1e12};
  Matrix r;
  r.a = d / det;
  r.b = -b / det;
  r.c = -c / det;
  r.d = a / det;
  r.tx = -(r.a * tx + r.c * ty);
  r.ty = -(r.b * tx + r.d * ty);
  return r;
}

Rgba ColorTransform::apply(Rgba c) const {
  auto channel = [](double v, double mul, double add) {
    double r = v * mul + add;
    return std::uint8_t(std::clamp(std::floor(r), 0.0, 255.0));
  };
  return Rgba{channel(c.r, rMul, rAdd), channel(c.g, gMul, gAdd), channel(c.b, bMul, bAdd),
              channel(c.a, aMul, aAdd)};
}

}  // namespace flash::swf
