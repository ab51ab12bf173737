// The music dialog: the module header across the top; below it the recipient, the phone model
// and the format, the MIDI file with its channel, beat and tempo, the conversion's outcome with
// the fee notice, and the listen and send buttons.
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QWindow>
#include <mutex>

#include "modules/music/music_dialog.h"
#include "modules/music/views/views.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/UI/header.h"
#include "ui/UI/history.h"
#include "ui/UI/widgets.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtbackend.h"
#include "ui/qt/qtext.h"

namespace hv::ringport {

namespace {

using ui::qt::toQ;

constexpr int kWidth = 490;
constexpr int kBodyHeight = 330;

QRect ltrb(int l, int t, int r, int b) {
  return QRect(QPoint(l, t), QPoint(r, b));
}

class MusicView : public QWidget {
 public:
  explicit MusicView(MusicDialog& controller) : controller_(controller) {
    setObjectName(QStringLiteral("RingportDialog"));
    setWindowFlag(Qt::Window, true);
    binding_ = new ui::qt::ControllerBinding(controller, this);
    buildHeader();
    buildBody();
    header_->MoveCtrls(this);
    setFixedSize(kWidth, header_->headerHeight() + kBodyHeight);
    binding_->afterRefresh = [this](int id) { refreshed(id); };
    installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == this && event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    return QWidget::eventFilter(watched, event);
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (windowHandle()) windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(0xf4, 0xee, 0xfc));
    g.setColorAt(1, QColor(0xdf, 0xd4, 0xf2));
    p.fillRect(rect(), g);
  }

 private:
  template <class W>
  W* add(int id, W* w) {
    w->setObjectName(QStringLiteral("c%1").arg(id));
    binding_->bind(id, w);
    return w;
  }
  QLabel* label(const char* text, int x, int y, int w = 80) {
    auto* l = new QLabel(toQ(T(text)), this);
    l->setGeometry(x, y, w, 24);
    return l;
  }

  void buildHeader() {
    header_ = new CDialogHeader;
    header_->setObjectName(QStringLiteral("header"));
    header_->SetBackgroudBmp(fs::resolveOrKeep(fs::suiteHome() + T(kHeaderPicture)));
    resize(kWidth, kBodyHeight);
    header_->Init(this);
    header_->SetMinButton(ltrb(445, 6, 464, 25));
    header_->SetCloseButton(ltrb(465, 6, 484, 25));
    header_->SetTextButton(ltrb(368, 30, 398, 61));
    header_->SetImageButton(ltrb(407, 30, 442, 61));
    header_->SetFlashButton(ltrb(453, 30, 482, 61));
    header_->SetModuleHandler([this](CDialogHeader::Button b) {
      if (b == CDialogHeader::Button::Text) controller_.onCommand(MusicDialog::kHeaderText);
      if (b == CDialogHeader::Button::Image) controller_.onCommand(MusicDialog::kHeaderImage);
      if (b == CDialogHeader::Button::Flash) controller_.onCommand(MusicDialog::kHeaderFlash);
    });
  }

  void buildBody() {
    const int x = 16, cx = 100, w = 270;
    label("接收人：", x, 10);
    auto* receiver = add(MusicDialog::kReceiver, new CACCombox(this));
    receiver->Init();
    receiver->setGeometry(cx, 9, w, 26);
    add(MusicDialog::kAskModel, new QPushButton(this))->setGeometry(cx + w + 10, 9, 94, 26);

    label("手机型号：", x, 44);
    add(MusicDialog::kModel, new QComboBox(this))->setGeometry(cx, 43, w, 26);
    label("铃声格式：", x, 78);
    add(MusicDialog::kFormat, new QComboBox(this))->setGeometry(cx, 77, w, 26);

    label("MIDI文件：", x, 112);
    auto* file = add(MusicDialog::kFile, new QLabel(this));
    file->setGeometry(cx, 112, w, 24);
    file->setFrameShape(QFrame::StyledPanel);
    add(MusicDialog::kOpen, new QPushButton(this))->setGeometry(cx + w + 10, 110, 94, 28);

    label("声道：", x, 146);
    add(MusicDialog::kChannel, new QComboBox(this))->setGeometry(cx, 145, 100, 26);
    label("最多短消息：", cx + 120, 146, 90);
    add(MusicDialog::kMaxMessages, new QComboBox(this))->setGeometry(cx + 210, 145, 60, 26);

    label("速度：", x, 180);
    auto* tempo = add(MusicDialog::kTempo, new QSlider(Qt::Horizontal, this));
    tempo->setGeometry(cx, 180, 200, 24);
    tempo->setTickPosition(QSlider::TicksBelow);
    tempo->setTickInterval(1);
    add(MusicDialog::kBeat, new QLabel(this))->setGeometry(cx + 210, 180, 150, 24);

    add(MusicDialog::kConvert, new QPushButton(this))->setGeometry(x, 216, 84, 28);
    add(MusicDialog::kNotes, new QLabel(this))->setGeometry(cx, 212, 370, 20);
    add(MusicDialog::kCount, new QLabel(this))->setGeometry(cx, 232, 370, 20);
    fee_ = add(MusicDialog::kFee, new CTransparentStatic(this));
    fee_->setGeometry(cx, 254, 370, 34);
    fee_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    fee_->setWordWrap(true);

    add(MusicDialog::kPlay, new QPushButton(this))->setGeometry(x, 292, 140, 30);
    auto* send = add(MusicDialog::kSend, new QPushButton(this));
    send->setGeometry(kWidth - 16 - 200, 292, 200, 30);
    QFont bold = send->font();
    bold.setBold(true);
    send->setFont(bold);
    for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
    auto* window = new QWidget(this);
    window->setObjectName(QStringLiteral("standin%1").arg(MusicDialog::kWindow));
    window->setGeometry(0, 0, 0, 0);
    binding_->bind(MusicDialog::kWindow, window);
  }

  void refreshed(int id) {
    if (id == MusicDialog::kWindow) {
      setEnabled(controller_.enabled(MusicDialog::kWindow));
    } else if (id == MusicDialog::kFee) {
      const QString shown = toQ(controller_.text(MusicDialog::kFee)).trimmed();
      if (fee_->text() != shown) fee_->setText(shown);
    }
  }

  MusicDialog& controller_;
  ui::qt::ControllerBinding* binding_ = nullptr;
  CDialogHeader* header_ = nullptr;
  CTransparentStatic* fee_ = nullptr;
};

}  // namespace

QWidget* createMusicView(ui::DialogController& controller) {
  auto* dialog = dynamic_cast<MusicDialog*>(&controller);
  return dialog ? new MusicView(*dialog) : nullptr;
}

void registerViews() {
  static std::once_flag once;
  std::call_once(once, [] { ui::qt::registerView(MusicDialog::kTemplate, createMusicView); });
}

}  // namespace hv::ringport
