#pragma once
// The preview player of the animation dialog: a widget that plays an SWF movie with our engine at
// the movie's own frame rate, drawn fitted into the widget with the frame number and the frame
// count under it. It is the dialog's FlashControl. The clocks are injected: the dialog's view
// gives it Qt timers, the tests tick by hand.
#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "modules/animation/dialog.h"

namespace flash {
class Player;
}

namespace hv::flickport {

// Calls back every interval milliseconds between start() and stop().
class TickSource {
 public:
  virtual ~TickSource() = default;
  virtual void start(int intervalMs, std::function<void()> tick) = 0;
  virtual void stop() = 0;
  virtual bool active() const = 0;
  virtual int interval() const = 0;
};

// A QTimer (of the GUI thread) behind the interface.
std::unique_ptr<TickSource> qtTicks(QObject* parent);

class FlashPlayerWidget : public QWidget, public FlashControl {
 public:
  // frameTicks drive playback at the movie's rate.
  FlashPlayerWidget(std::unique_ptr<TickSource> frameTicks, QWidget* parent = nullptr);
  ~FlashPlayerWidget() override;

  bool load(const std::string& path) override;
  int frameCount() const override { return count_; }
  int currentFrame() const override { return current_; }
  bool playing() const override { return playing_; }
  void play() override;
  void stop() override;
  void gotoFrame(int frame) override;
  void tick() override;

  // Milliseconds per frame: 1000 / the movie's frames per second (12 a second below 1).
  int frameInterval() const;
  // The picture of the current frame as drawn (empty before a movie is loaded).
  const QImage& picture() const { return picture_; }
  // Where the picture lies in the widget.
  QRect pictureRect() const;
  // "12/100": the current frame counted from 1, the frame count.
  QString counterText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void draw();

  std::unique_ptr<TickSource> ticks_;
  std::unique_ptr<flash::Player> engine_;
  QImage picture_;
  int count_ = 0;
  int current_ = 0;
  bool playing_ = false;
};

}  // namespace hv::flickport
