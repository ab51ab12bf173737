#include "modules/image/framing.h"

#include <algorithm>
#include <cstdlib>

namespace hv::pictport {

namespace {

bool inside(const Rect& outer, const Rect& r) {
  return r.left >= outer.left && r.top >= outer.top && r.right <= outer.right &&
         r.bottom <= outer.bottom;
}

bool near(Point p, int x, int y) {
  return std::abs(p.x - x) <= ClipGeometry::kHandleReach &&
         std::abs(p.y - y) <= ClipGeometry::kHandleReach;
}

// A rectangle of w x h centred on (cx2 / 2, cy2 / 2); the doubled centre keeps odd sizes exact.
Rect centredOn(int cx2, int cy2, int w, int h) {
  const int left = (cx2 - w) / 2;
  const int top = (cy2 - h) / 2;
  return {left, top, left + w, top + h};
}

}  // namespace

void ClipGeometry::setup(Size client, Size picture, Size target) {
  picture_ = picture;
  target_ = {std::max(target.w, 1), std::max(target.h, 1)};
  whole_ = false;
  const int availW = client.w - 2;
  const int availH = client.h - 2;
  if (availW <= 0 || availH <= 0 || picture.w <= 0 || picture.h <= 0) {
    display_ = {};
    frame_ = {};
    return;
  }
  int w = picture.w, h = picture.h;
  if (w > availW || h > availH) {
    if (int64_t(w) * availH > int64_t(h) * availW) {
      h = std::max(1, int(int64_t(h) * availW / w));
      w = availW;
    } else {
      w = std::max(1, int(int64_t(w) * availH / h));
      h = availH;
    }
  }
  const int left = 1 + (availW - w) / 2;
  const int top = 1 + (availH - h) / 2;
  display_ = {left, top, left + w, top + h};
  standardFrame();
}

void ClipGeometry::standardFrame() {
  if (!valid()) return;
  int w = target_.w, h = target_.h;
  if (h > display_.height()) {
    h = display_.height();
    w = std::max(1, int(int64_t(target_.w) * h / target_.h));
  }
  if (w > display_.width()) {
    w = display_.width();
    h = std::max(1, int(int64_t(target_.h) * w / target_.w));
  }
  frame_ = centredOn(display_.left + display_.right, display_.top + display_.bottom, w, h);
  changed();
}

void ClipGeometry::wholeFrame() {
  if (!valid()) return;
  frame_ = display_;
  whole_ = true;
  if (onFrameChanged) onFrameChanged();
}

void ClipGeometry::setFrame(const Rect& frame) {
  frame_ = frame;
  changed();
}

void ClipGeometry::changed() {
  if (frame_ != display_) whole_ = false;
  if (onFrameChanged) onFrameChanged();
}

Handle ClipGeometry::hitTest(Point p) const {
  if (!valid()) return Handle::None;
  const Rect& f = frame_;
  const int cx = (f.left + f.right) / 2;
  const int cy = (f.top + f.bottom) / 2;
  if (!keepRatio_) {
    if (near(p, f.left, f.top)) return Handle::TopLeft;
    if (near(p, f.right, f.top)) return Handle::TopRight;
    if (near(p, f.left, f.bottom)) return Handle::BottomLeft;
    if (near(p, f.right, f.bottom)) return Handle::BottomRight;
  }
  if (near(p, f.left, cy)) return Handle::Left;
  if (near(p, f.right, cy)) return Handle::Right;
  if (near(p, cx, f.top)) return Handle::Top;
  if (near(p, cx, f.bottom)) return Handle::Bottom;
  if (p.x >= f.left && p.x < f.right && p.y >= f.top && p.y < f.bottom) return Handle::Inside;
  return Handle::None;
}

bool ClipGeometry::drag(Handle grabbed, int dx, int dy) {
  if (!valid() || grabbed == Handle::None || (dx == 0 && dy == 0)) return false;
  if (grabbed != Handle::Inside) return resize(grabbed, dx, dy);
  Rect f = frame_;
  f.left += dx;
  f.right += dx;
  f.top += dy;
  f.bottom += dy;
  // Shifted back inside where the move pushed it past an edge.
  const int shiftX = std::max(display_.left - f.left, 0) - std::max(f.right - display_.right, 0);
  const int shiftY = std::max(display_.top - f.top, 0) - std::max(f.bottom - display_.bottom, 0);
  f.left += shiftX;
  f.right += shiftX;
  f.top += shiftY;
  f.bottom += shiftY;
  if (f == frame_) return false;
  frame_ = f;
  changed();
  return true;
}

Rect ClipGeometry::largestCentred() const {
  int w = display_.width();
  int h = int(int64_t(w) * target_.h / target_.w);
  if (h > display_.height()) {
    h = display_.height();
    w = int(int64_t(h) * target_.w / target_.h);
  }
  return centredOn(display_.left + display_.right, display_.top + display_.bottom, std::max(w, 1),
                   std::max(h, 1));
}

bool ClipGeometry::resize(Handle h, int dx, int dy) {
  Rect f = frame_;
  const bool corner = h == Handle::TopLeft || h == Handle::TopRight || h == Handle::BottomLeft ||
                      h == Handle::BottomRight;
  if (keepRatio_ && corner) return false;
  if (h == Handle::Left || h == Handle::TopLeft || h == Handle::BottomLeft) f.left += dx;
  if (h == Handle::Right || h == Handle::TopRight || h == Handle::BottomRight) f.right += dx;
  if (h == Handle::Top || h == Handle::TopLeft || h == Handle::TopRight) f.top += dy;
  if (h == Handle::Bottom || h == Handle::BottomLeft || h == Handle::BottomRight) f.bottom += dy;
  if (keepRatio_) {
    // The dragged side sets one dimension; the other follows, about the frame's centre line.
    if (h == Handle::Left || h == Handle::Right) {
      const int w = f.width();
      const int nh = int(int64_t(w) * target_.h / target_.w);
      f = Rect{f.left, 0, f.right, 0};
      const Rect c = centredOn(0, frame_.top + frame_.bottom, 0, nh);
      f.top = c.top;
      f.bottom = c.bottom;
    } else {
      const int hh = f.height();
      const int nw = int(int64_t(hh) * target_.w / target_.h);
      const Rect c = centredOn(frame_.left + frame_.right, 0, nw, 0);
      f.left = c.left;
      f.right = c.right;
    }
  }
  if (f.width() < 1 || f.height() < 1) return false;
  if (!inside(display_, f)) {
    if (!keepRatio_) return false;  // that step is undone
    f = largestCentred();
  }
  if (f == frame_) return false;
  frame_ = f;
  changed();
  return true;
}

Rect ClipGeometry::crop() const {
  if (!valid()) return {};
  const int dw = display_.width(), dh = display_.height();
  auto sx = [&](int x) { return int(int64_t(x - display_.left) * picture_.w / dw); };
  auto sy = [&](int y) { return int(int64_t(y - display_.top) * picture_.h / dh); };
  return {sx(frame_.left), sy(frame_.top), sx(frame_.right), sy(frame_.bottom)};
}

}  // namespace hv::pictport
