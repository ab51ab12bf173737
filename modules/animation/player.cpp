#include "modules/animation/player.h"

#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "flash/flash.h"

namespace hv::flickport {

namespace {

constexpr int kCounterHeight = 18;
constexpr int kAssumedRate = 12;

class QtTicks : public TickSource {
 public:
  explicit QtTicks(QObject* parent) : timer_(new QTimer(parent)) {
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, timer_, [this] {
      if (tick_) tick_();
    });
  }
  ~QtTicks() override { delete timer_; }
  void start(int intervalMs, std::function<void()> tick) override {
    tick_ = std::move(tick);
    timer_->start(std::max(1, intervalMs));
  }
  void stop() override { timer_->stop(); }
  bool active() const override { return timer_->isActive(); }
  int interval() const override { return timer_->interval(); }

 private:
  QTimer* timer_;
  std::function<void()> tick_;
};

}  // namespace

std::unique_ptr<TickSource> qtTicks(QObject* parent) {
  return std::make_unique<QtTicks>(parent);
}

FlashPlayerWidget::FlashPlayerWidget(std::unique_ptr<TickSource> frameTicks, QWidget* parent)
    : QWidget(parent), ticks_(std::move(frameTicks)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

FlashPlayerWidget::~FlashPlayerWidget() {
  if (ticks_) ticks_->stop();
}

QRect FlashPlayerWidget::pictureRect() const {
  return QRect(0, 0, std::max(1, width()), std::max(1, height() - kCounterHeight));
}

bool FlashPlayerWidget::load(const std::string& path) {
  stop();
  const QRect r = pictureRect();
  auto engine = std::make_unique<flash::Player>(r.width(), r.height());
  if (!engine->load(path).ok()) return false;
  engine_ = std::move(engine);
  count_ = engine_->frameCount();
  current_ = 0;
  draw();
  return true;
}

int FlashPlayerWidget::frameInterval() const {
  const double fps = engine_ ? engine_->framesPerSecond() : 0.0;
  return int(std::lround(1000.0 / (fps >= 1.0 ? fps : double(kAssumedRate))));
}

void FlashPlayerWidget::play() {
  if (!engine_ || count_ <= 0) return;
  playing_ = true;
  if (ticks_) ticks_->start(frameInterval(), [this] { tick(); });
}

void FlashPlayerWidget::stop() {
  playing_ = false;
  if (ticks_) ticks_->stop();
}

void FlashPlayerWidget::gotoFrame(int frame) {
  if (!engine_) return;
  const int to = std::clamp(frame, 0, std::max(0, count_ - 1));
  if (to == current_ && !picture_.isNull()) return;
  current_ = to;
  draw();
}

void FlashPlayerWidget::tick() {
  if (!playing_ || count_ <= 0) return;
  current_ = current_ + 1 >= count_ ? 0 : current_ + 1;
  draw();
}

QString FlashPlayerWidget::counterText() const {
  if (!engine_) return QString();
  return QStringLiteral("%1/%2").arg(current_ + 1).arg(count_);
}

void FlashPlayerWidget::draw() {
  if (!engine_) return;
  const QRect r = pictureRect();
  if (engine_->width() != r.width() || engine_->height() != r.height()) {
    engine_->resize(r.width(), r.height());
  }
  // The engine replays forward from where it is; going back starts it over.
  engine_->gotoFrame(current_ + 1);
  QImage img(r.width(), r.height(), QImage::Format_RGB888);
  if (engine_->render(img.bits(), size_t(img.bytesPerLine())).ok()) picture_ = std::move(img);
  update();
}

void FlashPlayerWidget::resizeEvent(QResizeEvent*) {
  draw();
}

void FlashPlayerWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(0x20, 0x28, 0x38));
  if (!picture_.isNull()) p.drawImage(pictureRect().topLeft(), picture_);
  const QRect counter(0, height() - kCounterHeight, width(), kCounterHeight);
  p.fillRect(counter, QColor(0x2b, 0x3a, 0x55));
  p.setPen(QColor(0xdd, 0xe6, 0xf5));
  p.drawText(counter.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignRight, counterText());
  if (engine_) {
    p.drawText(counter.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft,
               playing_ ? QStringLiteral("播放中") : QStringLiteral("已停止"));
  }
}

}  // namespace hv::flickport
