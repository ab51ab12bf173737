#pragma once
// The geometry of the framing control: where the working picture is shown inside the control,
// the crop frame the user drags over it, and the part of the picture the frame stands for. The
// Qt widget (CClipStatic) only paints what this says and reports the mouse to it.
#include <functional>

#include "modules/image/picture.h"

namespace hv::pictport {

// What the mouse grabs: nothing, the inside of the frame, or one of its eight handles.
enum class Handle {
  None,
  Inside,
  Left,
  Top,
  Right,
  Bottom,
  TopLeft,
  TopRight,
  BottomLeft,
  BottomRight
};

class ClipGeometry {
 public:
  // Half the side of a handle's square, in display pixels.
  static constexpr int kHandleReach = 3;

  // Lays a picture of `picture` pixels into a control of `client` pixels for a target of
  // target.w : target.h, and puts the frame at its initial place.
  void setup(Size client, Size picture, Size target);
  bool valid() const { return !display_.empty(); }

  // The picture scaled to the client area less a 1-pixel border (shrunk only, never enlarged,
  // its aspect kept), centred.
  const Rect& display() const { return display_; }
  const Rect& frame() const { return frame_; }
  Size target() const { return target_; }
  Size picture() const { return picture_; }

  // The target's size in display pixels, shrunk to the display's height and then its width
  // (keeping the target's aspect), centred; "标准大小" does the same.
  void standardFrame();
  // The whole display; sets the whole-picture flag.
  void wholeFrame();
  bool whole() const { return whole_; }
  void clearWhole() { whole_ = false; }
  void setFrame(const Rect& frame);

  bool keepRatio() const { return keepRatio_; }
  void setKeepRatio(bool keep) { keepRatio_ = keep; }

  // What a press at p grabs. With the ratio kept the corners do not respond.
  Handle hitTest(Point p) const;
  // A drag of what `grabbed` by (dx, dy) since the last step. Moves stay inside the display;
  // resizes keep the target's aspect when the ratio is kept. False when the frame did not change.
  bool drag(Handle grabbed, int dx, int dy);

  // The frame in picture pixels (scaled by picture / display size in each direction).
  Rect crop() const;

  // Called whenever the frame changed.
  std::function<void()> onFrameChanged;

 private:
  bool resize(Handle h, int dx, int dy);
  void changed();
  Rect largestCentred() const;

  Size picture_;
  Size target_{1, 1};
  Rect display_;
  Rect frame_;
  bool whole_ = false;
  bool keepRatio_ = true;
};

}  // namespace hv::pictport
