#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWindow>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/UI/image.h"
#include "ui/UI/widgets.h"
#include "ui/ctrls/ctrls.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtbackend.h"
#include "ui/views/views.h"

namespace hv::ui::qt {

namespace {

enum LoginControl {
  kUserId = 9001,
  kPassword = 9002,
  kLogin = 9004,
  kAdvanced = 9005,
  kAutoLogin = 9006,
  kLogout = 9007,
  kDirect = 9008,
  kSock4 = 9009,
  kSock5 = 9010,
  kProxyHost = 9011,
  kProxyPort = 9012,
  kProxyUser = 9013,
  kProxyPassword = 9014,
  kFrame = 9015,
  kUseProxy = 9016,
  kBanner = 9017,
  kRegister = 9018,
  kRecover = 9019,
};

// The login dialog: the frame holds the banner, the account and the buttons; expanding reveals
// the proxy settings below it. The toggle follows the controller: its label "高级<<" means
// expanded.
class LoginView : public CExpandingDialog {
 public:
  explicit LoginView(DialogController& controller)
      : CExpandingDialog(kLoginTemplate, nullptr, kFrame, kAdvanced, T("高级>>"), T("高级<<"),
                         false),
        controller_(controller) {
    setObjectName(QStringLiteral("LoginDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    binding_ = new ControllerBinding(controller, this);
    build();
    Expand(false);
    binding_->beforeCommand = [this](int id) { return toggle(id); };
    binding_->afterRefresh = [this](int id) { refreshed(id); };
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    // The background moves the dialog as its caption would.
    if (event->button() == Qt::LeftButton && windowHandle()) windowHandle()->startSystemMove();
    CExpandingDialog::mousePressEvent(event);
  }

 private:
  template <class W>
  W* add(int id, W* w) {
    w->setObjectName(QStringLiteral("c%1").arg(id));
    SetControl(id, w);
    binding_->bind(id, w);
    return w;
  }

  void build() {
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("c%1").arg(kFrame));
    SetControl(kFrame, frame);
    auto* top = new QVBoxLayout(frame);
    top->setContentsMargins(0, 0, 0, 0);

    auto* banner = add(kBanner, new QLabel(frame));
    banner->setAlignment(Qt::AlignCenter);
    auto bannerPath = fs::resolveNoCase(fs::suiteHome() + T("DATA/登录.jpg"));
    const QPixmap picture = bannerPath ? LoadImage(nullptr, *bannerPath) : QPixmap();
    if (!picture.isNull()) {
      banner->setPixmap(picture);
      banner->setFixedSize(picture.size());
    } else {
      banner->hide();
    }
    top->addWidget(banner, 0, Qt::AlignHCenter);

    auto* form = new QFormLayout;
    form->setContentsMargins(16, 8, 16, 0);
    auto* id = add(kUserId, new QComboBox(frame));
    id->setEditable(true);
    id->setInsertPolicy(QComboBox::NoInsert);
    auto* digits = new DigitsOnlyValidator(id);
    digits->setLimit(19);  // a user id is at most 19 characters
    id->lineEdit()->setValidator(digits);
    form->addRow(QStringLiteral("用户手机号："), id);
    auto* password = add(kPassword, new QLineEdit(frame));
    password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("密码："), password);
    top->addLayout(form);

    auto* options = new QHBoxLayout;
    options->setContentsMargins(16, 0, 16, 0);
    options->addWidget(add(kAutoLogin, new QCheckBox(QStringLiteral("下次自动登录"), frame)));
    options->addStretch(1);
    options->addWidget(add(kRegister, new QPushButton(QStringLiteral("新用户注册"), frame)));
    options->addWidget(add(kRecover, new QPushButton(QStringLiteral("找回密码"), frame)));
    top->addLayout(options);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(16, 4, 16, 8);
    auto* login = add(kLogin, new QPushButton(QStringLiteral("登录"), frame));
    login->setDefault(true);
    buttons->addWidget(login);
    buttons->addWidget(add(kLogout, new QPushButton(QStringLiteral("退出登录"), frame)));
    auto* direct = add(kDirect, new QPushButton(QStringLiteral("直接进入"), frame));
    direct->hide();
    buttons->addWidget(direct);
    buttons->addStretch(1);
    auto* advanced = add(kAdvanced, new QPushButton(QStringLiteral("高级>>"), frame));
    advanced->setAutoDefault(false);
    buttons->addWidget(advanced);
    top->addLayout(buttons);

    auto* proxy = new QGroupBox(QStringLiteral("代理服务器"), this);
    proxy->setObjectName(QStringLiteral("proxyGroup"));
    auto* grid = new QGridLayout(proxy);
    grid->addWidget(add(kUseProxy, new QCheckBox(QStringLiteral("使用代理"), proxy)), 0, 0);
    auto* sock4 = add(kSock4, new QRadioButton(QStringLiteral("SOCK4"), proxy));
    auto* sock5 = add(kSock5, new QRadioButton(QStringLiteral("SOCK5"), proxy));
    // The controller keeps the two exclusive; Qt's own exclusivity could not clear both.
    sock4->setAutoExclusive(false);
    sock5->setAutoExclusive(false);
    grid->addWidget(sock4, 0, 1);
    grid->addWidget(sock5, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("服务器地址："), proxy), 1, 0);
    grid->addWidget(add(kProxyHost, new QLineEdit(proxy)), 1, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("端口号："), proxy), 2, 0);
    auto* port = add(kProxyPort, new CNumEdit(proxy));
    port->SetLimitText(5);
    grid->addWidget(port, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("认证用户名："), proxy), 3, 0);
    grid->addWidget(add(kProxyUser, new QLineEdit(proxy)), 3, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("认证密码："), proxy), 4, 0);
    auto* proxyPassword = add(kProxyPassword, new QLineEdit(proxy));
    proxyPassword->setEchoMode(QLineEdit::Password);
    grid->addWidget(proxyPassword, 4, 1, 1, 3);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(frame);
    auto* proxyRow = new QHBoxLayout;
    proxyRow->setContentsMargins(12, 0, 12, 0);
    proxyRow->addWidget(proxy);
    layout->addLayout(proxyRow);
    layout->setSizeConstraint(QLayout::SetFixedSize);
  }

  // The toggle: the controller hears of it first; when it switched the label itself the view
  // follows that, otherwise the view toggles and tells the controller the new label.
  bool toggle(int id) {
    if (id != kAdvanced) return false;
    const std::string before = controller_.text(kAdvanced);
    controller_.onCommand(kAdvanced);
    const std::string after = controller_.text(kAdvanced);
    follow(after != before ? after == T("高级<<") : !IsExpanded());
    return true;
  }

  void follow(bool expand) {
    Expand(expand);
    const std::string label = expand ? T("高级<<") : T("高级>>");
    if (controller_.text(kAdvanced) != label) controller_.setText(kAdvanced, label);
  }

  void refreshed(int id) {
    if (id == kAdvanced) {
      const std::string label = controller_.text(kAdvanced);
      if (label == T("高级<<") && !IsExpanded()) follow(true);
      if (label == T("高级>>") && IsExpanded()) follow(false);
    } else if (id == -1 && !opened_ && binding_->started()) {
      // The opening state: a dialog whose proxy ends up in use opens expanded.
      opened_ = true;
      if (controller_.checked(kUseProxy)) follow(true);
    }
  }

  DialogController& controller_;
  ControllerBinding* binding_;
  bool opened_ = false;
};

}  // namespace

QWidget* createLoginView(DialogController& controller) {
  return new LoginView(controller);
}

void registerSuiteViews() {
  registerView(kLoginTemplate, createLoginView);
  registerView(kProgressTemplate, createProgressView);
}

}  // namespace hv::ui::qt
