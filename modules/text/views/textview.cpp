// The text dialog: the module header across the top; below it the phone picture, whose screen
// holds the message text, with the fee notice and the picture send button on the phone's body;
// to its right the recipients, the options, the counters and the buttons.
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

#include "modules/text/text_dialog.h"
#include "modules/text/textfile.h"
#include "modules/text/views/views.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/UI/header.h"
#include "ui/UI/history.h"
#include "ui/UI/image.h"
#include "ui/UI/widgets.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtext.h"

namespace hv::textport {

namespace {

using ui::qt::fromQ;
using ui::qt::toQ;

constexpr int kWidth = 490;
constexpr int kBodyHeight = 352;
constexpr QPoint kPhone(10, 6);
constexpr int kToolTipWidth = 400;

QRect ltrb(int l, int t, int r, int b) {
  return QRect(QPoint(l, t), QPoint(r, b));
}

std::string suitePicture(const char* relative) {
  return fs::resolveOrKeep(fs::suiteHome() + T(relative));
}

// The dialog's texts carry CR LF; the edits show LF.
QString shownText(const std::string& gbk) {
  std::string lf;
  lf.reserve(gbk.size());
  for (char c : gbk) {
    if (c != '\r') lf += c;
  }
  return toQ(lf);
}

// Tool tips are plain text; one wider than 400 pixels is wrapped at that width.
QString toolTipText(const std::string& gbk) {
  const QString text = shownText(gbk);
  const QFontMetrics metrics(QToolTip::font());
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    if (metrics.horizontalAdvance(line) > kToolTipWidth) {
      return QStringLiteral("<table width=%1><tr><td>%2</td></tr></table>")
          .arg(kToolTipWidth)
          .arg(text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")));
    }
  }
  return text;
}

class TextView : public QWidget {
 public:
  explicit TextView(TextDialog& controller) : controller_(controller) {
    setObjectName(QStringLiteral("TextportDialog"));
    setWindowFlag(Qt::Window, true);
    binding_ = new ui::qt::ControllerBinding(controller, this);
    buildHeader();
    buildBody();
    header_->MoveCtrls(this);
    setFixedSize(kWidth, header_->headerHeight() + kBodyHeight);
    applyToolTips();
    binding_->afterRefresh = [this](int id) { refreshed(id); };
    // After the binding's own filter, so this one sees keys first: Enter and Escape do nothing.
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
    // The background drags the dialog.
    if (event->button() == Qt::LeftButton && windowHandle()) windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(0xea, 0xf2, 0xfc));
    g.setColorAt(1, QColor(0xd2, 0xe2, 0xf6));
    p.fillRect(rect(), g);
  }
  void showEvent(QShowEvent* event) override {
    QWidget::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    raise();
    activateWindow();
    text_->setFocus();
    if (controller_.promptSelected()) text_->selectAll();
  }

 private:
  template <class W>
  W* add(int id, W* w) {
    w->setObjectName(QStringLiteral("c%1").arg(id));
    binding_->bind(id, w);
    return w;
  }
  // A control whose widget the view keeps in step itself: the binding reports its changes
  // through an invisible stand-in.
  void addStandIn(int id) {
    auto* w = new QWidget(this);
    w->setObjectName(QStringLiteral("standin%1").arg(id));
    w->setGeometry(0, 0, 0, 0);
    binding_->bind(id, w);
  }

  void buildHeader() {
    header_ = new CDialogHeader;
    header_->setObjectName(QStringLiteral("header"));
    header_->SetBackgroudBmp(suitePicture(kHeaderPicture));
    resize(kWidth, kBodyHeight);
    header_->Init(this);
    header_->SetMinButton(ltrb(445, 6, 464, 25));
    header_->SetCloseButton(ltrb(465, 6, 484, 25));
    header_->SetFlashButton(ltrb(368, 30, 398, 61));
    header_->SetImageButton(ltrb(407, 30, 442, 61));
    header_->SetMusicButton(ltrb(453, 30, 482, 61));
    header_->SetModuleHandler([this](CDialogHeader::Button b) {
      switch (b) {
        case CDialogHeader::Button::Flash:
          controller_.onCommand(TextDialog::kHeaderFlash);
          break;
        case CDialogHeader::Button::Image:
          controller_.onCommand(TextDialog::kHeaderImage);
          break;
        case CDialogHeader::Button::Music:
          controller_.onCommand(TextDialog::kHeaderMusic);
          break;
        default:
          break;
      }
    });
  }

  void buildPhone() {
    auto* phone = new QLabel(this);
    phone->setObjectName(QStringLiteral("phone"));
    const QPixmap picture = LoadImage(nullptr, suitePicture(kPhonePicture));
    phone->setPixmap(picture);
    phone->setGeometry(QRect(kPhone, picture.isNull() ? QSize(190, 340) : picture.size()));

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("c%1").arg(TextDialog::kText));
    text_->setGeometry(QRect(kPhone + QPoint(20, 46), QSize(150, 200)));
    text_->setFrameShape(QFrame::NoFrame);
    text_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #f4fbff; }"));
    followEdit(TextDialog::kText, text_);

    auto* send = add(TextDialog::kPictureSend, new CButtonST(this));
    send->SetBitmaps(suitePicture(kSendPicture), suitePicture(kSendPictureHover));
    send->setStyleSheet(QStringLiteral("border: none;"));
    send->setGeometry(QRect(kPhone + QPoint(159, 267), QSize(23, 28)));

    fee_ = add(TextDialog::kFee, new CTransparentStatic(this));
    fee_->setGeometry(QRect(kPhone + QPoint(23, 287), kPhone + QPoint(143, 327)));
    fee_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    fee_->setWordWrap(true);
    QFont small = fee_->font();
    small.setPixelSize(11);
    fee_->setFont(small);
  }

  void buildBody() {
    buildPhone();
    const int x = 212, w = 270;
    auto* receiverLabel = new QLabel(QStringLiteral("接收人："), this);
    receiverLabel->setGeometry(x, 12, 56, 22);
    auto* receiver = add(TextDialog::kReceiver, new CACCombox(this));
    receiver->Init();
    receiver->setGeometry(x + 58, 10, w - 58, 26);

    auto* ccLabel = new QLabel(QStringLiteral("抄送："), this);
    ccLabel->setGeometry(x, 44, 56, 22);
    cc_ = new QPlainTextEdit(this);
    cc_->setObjectName(QStringLiteral("c%1").arg(TextDialog::kCc));
    cc_->setGeometry(x + 58, 42, w - 58, 48);
    followEdit(TextDialog::kCc, cc_);
    auto* ccButton = add(TextDialog::kCcButton, new QPushButton(this));
    ccButton->setGeometry(x + w - 90, 96, 90, 26);

    int y = 132;
    for (int id : {TextDialog::kNumbering, TextDialog::kSigning, TextDialog::kFlash}) {
      add(id, new QCheckBox(this))->setGeometry(x, y, w, 22);
      y += 24;
    }
    add(TextDialog::kLength, new QLabel(this))->setGeometry(x, 214, w, 20);
    add(TextDialog::kCount, new QLabel(this))->setGeometry(x, 236, w, 20);

    add(TextDialog::kOpen, new QPushButton(this))->setGeometry(x, 272, 84, 28);
    add(TextDialog::kSave, new QPushButton(this))->setGeometry(x + 92, 272, 84, 28);
    add(TextDialog::kFeeInfo, new QPushButton(this))->setGeometry(x + 184, 272, 86, 28);
    auto* send = add(TextDialog::kSend, new QPushButton(this));
    send->setGeometry(x, 310, w, 34);
    QFont bold = send->font();
    bold.setBold(true);
    send->setFont(bold);
    for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
    addStandIn(TextDialog::kWindow);
  }

  // A multi-line edit kept in step with its control: CR LF in the controller, LF on screen.
  void followEdit(int id, QPlainTextEdit* edit) {
    addStandIn(id);
    edits_[id] = edit;
    QObject::connect(edit, &QPlainTextEdit::textChanged, this, [this, id, edit] {
      if (updatingEdit_ || !binding_->started()) return;
      controller_.setText(id, withCrLf(fromQ(edit->toPlainText())));
      controller_.onChange(id);
    });
  }

  void applyToolTips() {
    for (const auto& [id, tip] : TextDialog::toolTips()) {
      if (QWidget* w = findChild<QWidget*>(QStringLiteral("c%1").arg(id)))
        w->setToolTip(toolTipText(tip));
    }
  }

  void refreshed(int id) {
    if (auto it = edits_.find(id); it != edits_.end()) {
      QPlainTextEdit* edit = it->second;
      const QString want = shownText(controller_.text(id));
      if (edit->toPlainText() != want) {
        updatingEdit_ = true;
        edit->setPlainText(want);
        edit->moveCursor(QTextCursor::End);
        updatingEdit_ = false;
      }
      edit->setEnabled(controller_.enabled(id));
    } else if (id == TextDialog::kWindow) {
      setEnabled(controller_.enabled(TextDialog::kWindow));
    } else if (id == TextDialog::kFee) {
      // The notice's lines each end in a line feed; the last one would only add a blank line.
      const QString shown = toQ(controller_.text(TextDialog::kFee)).trimmed();
      if (fee_->text() != shown) fee_->setText(shown);
    }
  }

  TextDialog& controller_;
  ui::qt::ControllerBinding* binding_ = nullptr;
  CDialogHeader* header_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  QPlainTextEdit* cc_ = nullptr;
  CTransparentStatic* fee_ = nullptr;
  std::map<int, QPlainTextEdit*> edits_;
  bool updatingEdit_ = false;
  bool shownOnce_ = false;
};

}  // namespace

QWidget* createTextView(ui::DialogController& controller) {
  auto* dialog = dynamic_cast<TextDialog*>(&controller);
  return dialog ? new TextView(*dialog) : nullptr;
}

}  // namespace hv::textport
