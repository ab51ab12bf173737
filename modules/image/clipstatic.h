#pragma once
// The framing control: shows the working picture at the display size, the crop frame with its
// handles, a grey veil outside the frame and, for 1-bit types, the thresholded picture inside
// it. Where the frame goes is ClipGeometry's business; the widget paints it and hands it the
// mouse.
#include <QImage>
#include <QWidget>
#include <functional>

#include "modules/image/framing.h"

class CClipStatic : public QWidget {
 public:
  explicit CClipStatic(QWidget* parent = nullptr);

  // The geometry to show and drive; null shows nothing.
  void setGeometryController(hv::pictport::ClipGeometry* geometry) { geometry_ = geometry; }
  // The display copy, and the thresholded one for 1-bit types (null when not a 1-bit type).
  void setPictures(QImage display, QImage thresholded);
  // Called after a drag changed the frame.
  std::function<void()> onFrameChanged;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void updateCursor(hv::pictport::Handle h);

  hv::pictport::ClipGeometry* geometry_ = nullptr;
  QImage display_;
  QImage thresholded_;
  hv::pictport::Handle grabbed_ = hv::pictport::Handle::None;
  QPoint last_;
};
