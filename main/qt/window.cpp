#include "main/qt/window.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "main/qt/resources.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/UI/image.h"
#include "ui/UI/widgets.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtext.h"

namespace hv::launcher {

namespace {

// The plain window, before (or without) a skin; also the size kept when a skin's background
// has no size, so that the window can always be reached and switched.
constexpr QSize kPlainSize(400, 300);
constexpr int kTrayCheckMs = 1000;

// The tray menu draws its icons at 32 x 32.
class MenuIconStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_SmallIconSize) return 32;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

// An invisible hot area: clickable, drawn by nobody.
class HotArea : public QAbstractButton {
 public:
  using QAbstractButton::QAbstractButton;

 protected:
  void paintEvent(QPaintEvent*) override {}
};

QRect toQRect(const Rect& r) {
  return QRect(r.left, r.top, std::max(0, r.right - r.left), std::max(0, r.bottom - r.top));
}

// Why a background could not be shown, as the picture loader reports it; "" when it loaded.
std::string backgroundProblem(const std::string& path, QPixmap& out) {
  errno = ENOENT;
  const int fd = path.empty() ? -1 : fs::open(path, O_RDONLY);
  if (fd < 0) {
    const int error = errno;
    return utf8ToGbk(std::strerror(error)).value_or("file error");
  }
  ::close(fd);
  out = LoadImage(nullptr, path);
  return out.isNull() ? std::string("IPicture interface is not supported\t") : std::string();
}

void reportFirstPaint() {
  const char* file = std::getenv("HANDVANE_FIRST_PAINT_FILE");
  if (!file || !*file) return;
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  QFile f(QString::fromLocal8Bit(file));
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    f.write(QByteArray::number(qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec));
  }
  f.close();
  QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
}

}  // namespace

QPixmap withTransparentColour(const QPixmap& picture, const Rgb& c) {
  if (picture.isNull()) return picture;
  QPixmap out = picture;
  out.setMask(out.createMaskFromColor(QColor(c.red, c.green, c.blue), Qt::MaskInColor));
  return out;
}

MainWindow::MainWindow(LauncherServices services, std::string skinFolder, std::string commandLine)
    : QDialog(nullptr) {
  setObjectName(QStringLiteral("Launcher"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setWindowFlag(Qt::WindowMinimizeButtonHint, true);
  resize(kPlainSize);
  launcher_ = std::make_unique<Launcher>(*this, std::move(services), std::move(skinFolder),
                                         std::move(commandLine));
  receiver_ = registerWindow([this](const WindowMessage& m) { onMessage(m); });
  buildPanel();
}

MainWindow::~MainWindow() {
  // The binding refers to the launcher, which goes before the widget's children do.
  delete binding_;
  unregisterWindow(receiver_);
  tray_.RemoveIcon();
}

void MainWindow::buildPanel() {
  binding_ = new ui::qt::ControllerBinding(*launcher_, this);
  auto place = [this](int id, QWidget* w, QRect r) {
    w->setObjectName(QStringLiteral("c%1").arg(id));
    w->setGeometry(r);
    binding_->bind(id, w);
  };
  place(kNumberLabel, new CTransparentStatic(this), {24, 202, 100, 20});
  auto* number = new QLineEdit(this);
  auto* digits = new DigitsOnlyValidator(number);
  digits->setLimit(19);  // a user id is at most 19 characters
  number->setValidator(digits);
  place(kNumber, number, {124, 200, 130, 22});
  place(kPasswordLabel, new CTransparentStatic(this), {24, 230, 100, 20});
  auto* password = new QLineEdit(this);
  password->setEchoMode(QLineEdit::Password);
  place(kPassword, password, {124, 228, 130, 22});
  auto* login = new CButtonST(this);
  login->SetBitmaps(withTransparentColour(loginBitmap(), Rgb{255, 255, 255}));
  login->setDefault(true);
  place(kLoginButton, login, {266, 200, 64, 50});
  for (int id : {kRegisterLink, kRecoverLink}) {
    auto* link = new QPushButton(this);
    link->setFlat(true);
    link->setAutoDefault(false);
    link->setCursor(Qt::PointingHandCursor);
    link->setStyleSheet(QStringLiteral(
        "QPushButton { color: #0645ad; text-decoration: underline; border: none; }"));
    place(id, link, {id == kRegisterLink ? 20 : 70, 256, id == kRegisterLink ? 44 : 70, 22});
  }
  auto* status = new CButtonST(this);
  status->SetBitmaps(statusBitmap());
  status->setAutoDefault(false);
  place(kStatusButton, status, {24, 204, 44, 44});
  auto* welcome = new CTransparentStatic(this);
  QFont f = welcome->font();
  f.setPixelSize(16);
  welcome->setFont(f);
  place(kWelcome, welcome, {80, 214, 300, 24});
}

const QIcon& MainWindow::shownIcon() {
  if (!shown_.icon.isNull()) return shown_.icon;
  // The plain icon is drawn when first needed: with a skin that brings its own, never.
  if (plainIcon_.isNull()) plainIcon_ = programIcon();
  return plainIcon_;
}

QWidget* MainWindow::panelControl(int id) const {
  return binding_->widget(id);
}

void MainWindow::start() {
  setWindowTitle(ui::qt::toQ(launcher_->title()));
  binding_->start();
  if (shown_.icon.isNull()) setWindowIcon(shownIcon());  // a skin's icon is set with the skin
  trayWasAvailable_ = CTrayIcon::IsAvailable();
  tray_.Create(receiver_, kTrayMessage, "Lumoi", shownIcon(), kTrayIconId);
  trayWatch_ = new QTimer(this);
  connect(trayWatch_, &QTimer::timeout, this, [this] { checkNotificationArea(); });
  trayWatch_->start(kTrayCheckMs);
  show();
}

void MainWindow::onMessage(const WindowMessage& m) {
  if (messageFilter_ && messageFilter_(m)) return;
  if (m.message == kTrayMessage) onTrayMessage(m.wparam, m.lparam);
}

void MainWindow::bringForward(bool showAndRestore) {
  if (showAndRestore) return showWindow();
  if (!isVisible()) return;  // a hidden window stays hidden (a command line may say "-hide")
  raise();
  activateWindow();
}

void MainWindow::handOver(const std::string& commandLine) {
  launcher_->carryOut(commandLine);
}

// ---- skin

bool MainWindow::prepareSkin(const SkinFile& skin) {
  Look look;
  const std::string problem = backgroundProblem(skin.background, look.background);
  if (!problem.empty()) {
    look.background = QPixmap();
    ui::messageBox(problem, "CPicture Error");
  }
  const QPixmap icon = skin.appIcon.empty() ? QPixmap() : LoadImage(nullptr, skin.appIcon);
  if (!icon.isNull()) look.icon = QIcon(icon);
  for (const auto& e : skin.entries) {
    auto load = [](const std::string& p) { return p.empty() ? QPixmap() : LoadImage(nullptr, p); };
    look.pictures.emplace_back(withTransparentColour(load(e.pic0Path), e.rgb1),
                               withTransparentColour(load(e.pic1Path), e.rgb0));
  }
  prepared_ = std::move(look);
  return !icon.isNull();
}

void MainWindow::clearButtons() {
  for (auto& b : buttons_) delete b.data();
  buttons_.clear();
}

void MainWindow::applySkin(const SkinFile& skin) {
  shown_ = prepared_;
  clearButtons();
  const bool wasVisible = isVisible();
  setWindowFlag(Qt::FramelessWindowHint, true);
  const QSize size = shown_.background.isNull() ? kPlainSize : shown_.background.size();
  setFixedSize(size);
  if (!shown_.icon.isNull()) setWindowIcon(shown_.icon);
  for (size_t i = 0; i < skin.entries.size(); ++i) {
    const SkinEntry& e = skin.entries[i];
    QAbstractButton* b;
    if (e.hotArea()) {
      b = new HotArea(this);
    } else {
      auto* picture = new CButtonST(this);
      const auto& [rest, hover] = shown_.pictures[i];
      if (!rest.isNull()) {
        picture->SetBitmaps(rest, hover);
      } else {
        picture->setText(ui::qt::toQ(e.name));
      }
      picture->setAutoDefault(false);
      b = picture;
    }
    b->setObjectName(QStringLiteral("entry%1").arg(i));
    b->setToolTip(ui::qt::toQ(e.name));
    b->setCursor(Qt::PointingHandCursor);
    b->setFocusPolicy(Qt::NoFocus);
    b->setGeometry(toQRect(e.buttonRect()));
    const int command = kEntryBase + static_cast<int>(i);
    connect(b, &QAbstractButton::clicked, this, [this, command] { launcher_->onCommand(command); });
    b->show();
    buttons_.emplace_back(b);
  }
  if (wasVisible) show();
  update();
}

void MainWindow::setTrayIcon() {
  tray_.SetIcon(shownIcon());
}

void MainWindow::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  if (launcher_->skinApplied() && !shown_.background.isNull()) {
    p.drawPixmap(0, 0, shown_.background);
  } else {
    p.fillRect(rect(), palette().window());
  }
  p.end();
  QDialog::paintEvent(event);
  const bool first = !std::exchange(firstPaintSeen_, true);
  // The controls are drawn after this, in the same frame: the report is queued first, so that it
  // comes as soon as the frame is done and before the work queued below.
  if (first) QTimer::singleShot(0, this, [] { reportFirstPaint(); });
  if (launcher_->modulesPending() && !modulesQueued_) {
    // The window is on the screen: the module libraries load next, before any input is handled.
    modulesQueued_ = true;
    QTimer::singleShot(0, this, [this] {
      modulesQueued_ = false;
      launcher_->loadModules();
    });
  }
  if (first && afterFirstPaint_)
    QTimer::singleShot(0, this, std::exchange(afterFirstPaint_, nullptr));
}

// ---- mouse and keys

void MainWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    // As a drag on a caption would; without a window manager that moves windows, by hand.
    dragging_ = !(windowHandle() && windowHandle()->startSystemMove());
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
  QDialog::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton))
    move(event->globalPosition().toPoint() - dragOffset_);
  QDialog::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  if (event->button() == Qt::RightButton) launcher_->nextSkin();
  QDialog::mouseReleaseEvent(event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::AltModifier)) {
    buildWindowMenu()->exec(mapToGlobal(QPoint(0, 0)));
    return;
  }
  QDialog::keyPressEvent(event);
}

std::unique_ptr<QMenu> MainWindow::buildWindowMenu() {
  auto menu = std::make_unique<QMenu>(this);
  menu->addAction(QStringLiteral("关于 Handvane(&A)..."), this, [] {
    auto box = makeAboutBox();
    ui::backend().runModal(*box);
  });
  menu->addSeparator();
  menu->addAction(QStringLiteral("最小化(&N)"), this, [this] { minimizeWindow(); });
  menu->addAction(QStringLiteral("关闭(&C)"), this, [this] { closeWindow(); });
  return menu;
}

// ---- window states

bool MainWindow::trayShowing() const {
  return CTrayIcon::IsAvailable() && tray_.IsVisible();
}

void MainWindow::hideWindow() {
  hide();
}

void MainWindow::showWindow() {
  // The state first: a hidden window shown while still minimised would come back iconic.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::minimizeWindow() {
  showMinimized();
  // Hidden only while the tray icon can bring it back.
  if (trayShowing()) hide();
}

void MainWindow::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() && trayShowing()) {
    QTimer::singleShot(0, this, [this] {
      if (isMinimized() && trayShowing()) hide();
    });
  }
}

void MainWindow::closeWindow() {
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  tray_.RemoveIcon();
  QDialog::closeEvent(event);
}

void MainWindow::focusControl(int id) {
  if (QWidget* w = binding_->widget(id)) w->setFocus(Qt::OtherFocusReason);
}

void MainWindow::armTimer(int id, int milliseconds) {
  QTimer*& t = timers_[id];
  if (!t) {
    t = new QTimer(this);
    connect(t, &QTimer::timeout, this, [this, id] { launcher_->onTimer(id); });
  }
  t->start(milliseconds);
}

void MainWindow::disarmTimer(int id) {
  if (auto it = timers_.find(id); it != timers_.end() && it->second) it->second->stop();
}

void MainWindow::redrawStatus() {
  if (QWidget* w = binding_->widget(kStatusButton)) w->update();
}

// ---- tray

void MainWindow::checkNotificationArea() {
  const bool available = CTrayIcon::IsAvailable();
  if (available && !trayWasAvailable_) {
    // A notification area appeared (or was restarted): the icon goes (back) into it.
    if (!tray_.trayIcon()) {
      tray_.Create(receiver_, kTrayMessage, "Lumoi", shownIcon(), kTrayIconId);
    } else {
      tray_.MoveToRight();
    }
  }
  if (!available && !isVisible()) showWindow();  // nothing could bring it back otherwise
  trayWasAvailable_ = available;
}

std::unique_ptr<QMenu> MainWindow::buildTrayMenu() {
  auto menu = std::make_unique<QMenu>();
  auto* style = new MenuIconStyle;
  style->setParent(menu.get());
  menu->setStyle(style);
  for (const auto& item : launcher_->trayMenu()) {
    if (item.name.empty()) {
      menu->addSeparator();
      continue;
    }
    QAction* a = menu->addAction(ui::qt::toQ(item.name));
    if (!item.iconPath.empty()) a->setIcon(QIcon(LoadImage(nullptr, item.iconPath)));
    const int command = item.command;
    connect(a, &QAction::triggered, this, [this, command] {
      if (command != kNoCommand) launcher_->onCommand(command);
    });
  }
  return menu;
}

void MainWindow::onTrayMessage(uintptr_t id, intptr_t mouse) {
  if (id != kTrayIconId) return;
  if (mouse == CTrayIcon::kRightButtonUp) {
    if (isVisible()) {
      raise();
      activateWindow();
    }
    auto menu = buildTrayMenu();
    const QPoint at = QCursor::pos() - QPoint(menu->sizeHint().width(), menu->sizeHint().height());
    menu->exec(at);
  } else if (mouse == CTrayIcon::kLeftDoubleClick) {
    showWindow();
  }
}

}  // namespace hv::launcher
