// The yardstick of the start-up benchmark: a Qt program that paints one 400 x 300 window and
// reports the moment of its first paint as Handvane does ($HANDVANE_FIRST_PAINT_FILE).
#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <ctime>

namespace {
class Window : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).fillRect(rect(), QColor(40, 110, 200));
    if (reported_) return;
    reported_ = true;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    QFile f(QString::fromLocal8Bit(qgetenv("HANDVANE_FIRST_PAINT_FILE")));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
      f.write(QByteArray::number(qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec));
    f.close();
    QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
  }

 private:
  bool reported_ = false;
};
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Window w;
  w.resize(400, 300);
  w.show();
  return app.exec();
}
