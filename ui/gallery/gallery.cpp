// The gallery: every control of the UI and ctrls libraries and every dialog of the Qt views in one
// window, for a look by eye (run build/suite/hv-gallery under a desktop or Xvfb;
// "hv-gallery --screenshot gallery.png" draws the window into a picture and ends).
#include <QApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/messages.h"
#include "service/progress_dialog.h"
#include "ui/UI/UI.h"
#include "ui/ctrls/ctrls.h"
#include "ui/qt/qtext.h"
#include "ui/views/standin_login.h"
#include "ui/views/views.h"

#ifdef HV_GALLERY_SERVICE
#include "include/handvane/records.h"
#include "login/signon.h"
#include "service/svclink.h"
#endif

namespace {

using hv::T;
namespace ui = hv::ui;

QPushButton* action(QWidget* parent, const QString& text, std::function<void()> f) {
  auto* b = new QPushButton(text, parent);
  QObject::connect(b, &QPushButton::clicked, parent, std::move(f));
  return b;
}

QGroupBox* controls(QWidget* parent, const std::string& home, QLabel* status) {
  auto* box = new QGroupBox(QStringLiteral("控件"), parent);
  auto* form = new QFormLayout(box);

  auto* num = new CNumEdit(box);
  num->SetLimitText(11);
  num->setPlaceholderText(QStringLiteral("只能输入数字（粘贴也一样）"));
  form->addRow(QStringLiteral("CNumEdit"), num);

  auto* receivers = new CACCombox(box);
  receivers->Init();
  receivers->addItem(QStringLiteral("张三"), 0);
  const std::string setting = hv::fs::tempDirectory() + "gallery-Setting.ini";
  receivers->LoadHistory(setting, "Receiver");
  auto* remember = action(box, QStringLiteral("AddCurrent"), [receivers, status] {
    std::string reason;
    if (!CHandvaneHelper::IsPhoneNumberSupport("13800138000", receivers->GetText(), reason)) {
      status->setText(ui::qt::toQ(reason));
      return;
    }
    receivers->AddCurrent();
    status->setText(QStringLiteral("已记入接收方历史"));
  });
  auto* row = new QHBoxLayout;
  row->addWidget(receivers, 1);
  row->addWidget(remember);
  form->addRow(QStringLiteral("CACCombox"), row);

  auto* phones = new CPhoneTypeTree(box);
  if (auto ini = hv::fs::resolveNoCase(home + "DATA/phonecompany.ini"))
    phones->LoadPhoneCompany(*ini);
  for (const char* m :
       {"诺基亚3310", "诺基亚7650", "西门子C45", "摩托罗拉V998", "三星T108", "X100"}) {
    phones->SetItemData(phones->AddString(T(m)), 0);
  }
  phones->Sort();
  phones->SelectString(T("诺基亚7650"));
  QObject::connect(phones, &CPhoneTypeTree::modelSelected, status, [phones, status](int item) {
    status->setText(ui::qt::toQ(phones->GetItemText(item)));
  });
  form->addRow(QStringLiteral("CPhoneTypeTree"), phones);

  auto* bitmap = new CButtonST(box);
  bitmap->SetTooltipText(T("图片按钮"));
  bitmap->setFixedSize(48, 48);
  bitmap->SetBitmaps(box->style()->standardPixmap(QStyle::SP_DialogSaveButton).scaled(48, 48));
  auto* flat = new CButtonST(box);
  flat->setText(QStringLiteral("平面按钮"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(bitmap);
  buttons->addWidget(flat);
  buttons->addStretch(1);
  form->addRow(QStringLiteral("CButtonST"), buttons);

  auto* picture = new QLabel(box);
  picture->setPixmap(LoadImage(nullptr, hv::fs::resolveOrKeep(home + T("DATA/登录.jpg"))));
  auto* over = new CTransparentStatic(picture);
  over->SetText(T("透明背景的文字"));
  over->setStyleSheet(QStringLiteral("color: yellow;"));
  over->move(250, 4);
  form->addRow(QStringLiteral("CTransparentStatic"), picture);

  auto* link = new CHyperLink(box);
  link->SetText(T("资费说明"));
  link->SetURL(CHandvaneHelper::PageUrl("fee.html"));
  form->addRow(QStringLiteral("CHyperLink"), link);
  return box;
}

void showHeaderDialog(const std::string& home) {
  auto* d = new QDialog;
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->resize(490, 160);
  auto* text = new QLabel(QStringLiteral("标题区下面的控件被 MoveCtrls 移到了这里。"), d);
  text->setGeometry(20, 20, 440, 30);
  auto* close = new QPushButton(QStringLiteral("关闭"), d);
  close->setGeometry(380, 110, 90, 30);
  QObject::connect(close, &QPushButton::clicked, d, &QDialog::close);
  auto* header = new CDialogHeader;
  header->SetBackgroudBmp(home + T("DATA/Lumo字.jpg"));
  header->Init(d);
  header->SetMinButton(QRect(QPoint(445, 6), QPoint(464, 25)));
  header->SetCloseButton(QRect(QPoint(465, 6), QPoint(484, 25)));
  header->SetFlashButton(QRect(QPoint(368, 30), QPoint(398, 61)));
  header->SetImageButton(QRect(QPoint(407, 30), QPoint(442, 61)));
  header->SetMusicButton(QRect(QPoint(453, 30), QPoint(482, 61)));
  header->SetModuleHandler(
      [text](CDialogHeader::Button) { text->setText(QStringLiteral("模块按钮被按下")); });
  header->MoveCtrls(d);
  d->show();
}

// A send's progress dialog driven by a worker, as the send thread drives it.
void simulateSend(QLabel* status) {
  static hv::MessageWindow* window = new hv::MessageWindow([status](const hv::WindowMessage& m) {
    status->setText(m.lparam == -2 ? QStringLiteral("发送已取消（-2）")
                                   : QStringLiteral("发送完成（%1）").arg(m.lparam));
  });
  std::thread([id = window->id()] {
    auto dialog = std::make_shared<hv::svc::SendProgressDialog>();
    ui::backend().showModeless(dialog);
    dialog->setStatus(T("正在与服务器进行连接..."));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    dialog->setStatus(T("正在发送数据..."));
    dialog->setRange(0, 110);
    for (int p = 0; p <= 110 && !dialog->cancelled(); ++p) {
      dialog->setPosition(p);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    const intptr_t result = dialog->cancelled() ? -2 : 0;
    ui::backend().close(*dialog);
    hv::PostMessage(id, 0x401, 0, result);
  }).detach();
}

#ifdef HV_GALLERY_SERVICE
// Signing in for real: the login dialog of libSignon against the service its settings name
// (DATA/logincfg.dat; the run command's local service by default).
void signIn(QLabel* status) {
  const int state = LOGIN_Login(nullptr, nullptr);
  hv::LoginState s{};
  LOGIN_GetState(&s);
  status->setText(state == 2   ? QStringLiteral("已登录：%1").arg(ui::qt::toQ(s.userId))
                  : state == 1 ? QStringLiteral("直接进入（不连接服务）")
                               : QStringLiteral("未登录"));
}

// A real send through the service client: a picture-sized content to one recipient, with the
// progress dialog shown; the result arrives as the completion message.
void sendForReal(QLabel* status) {
  hv::LoginState s{};
  if (LOGIN_GetState(&s) != 2) {
    ui::messageBox(T("请先登录！"), T("发送短信"), ui::Icon::Information);
    return;
  }
  static hv::MessageWindow* window = new hv::MessageWindow([status](const hv::WindowMessage& m) {
    status->setText(m.lparam == 0    ? QStringLiteral("发送成功（0）")
                    : m.lparam == -2 ? QStringLiteral("发送已取消（-2）")
                                     : QStringLiteral("发送失败（%1）").arg(m.lparam));
  });
  hv::MessageHeader h(1);
  h.setServiceCode("WAP");
  h.setContentClass("IMAGE");
  h.setRecipient(0, "13900139000");
  h.setSender(s.userId);
  h.setModel(T("诺基亚7650"));
  h.setContentKind("nokia_picture");
  h.setContentType("GIF");
  // Picture-sized and more, yet below the service's 1 MiB packet limit.
  const std::string content(900 * 1024, 'G');
  const hv::SendNotice notice{window->id(), hv::kSendCompleteMessage, 1, 0};
  if (NET_SendMessageContent(&notice, h.data(), content.data(), int32_t(content.size())) != 0)
    status->setText(QStringLiteral("发送未能开始"));
  else
    status->setText(QStringLiteral("正在发送..."));
}
#endif

QGroupBox* dialogs(QWidget* parent, const std::string& home, QLabel* status) {
  auto* box = new QGroupBox(QStringLiteral("对话框"), parent);
  auto* col = new QVBoxLayout(box);
  col->addWidget(action(box, QStringLiteral("登录对话框（9000）"), [status] {
    hv::ui::qt::LoginStandin c("");
    const int r = ui::backend().runModal(c);
    status->setText(
        QStringLiteral("登录对话框结果 %1，号码 %2").arg(r).arg(ui::qt::toQ(c.text(9001))));
  }));
  col->addWidget(
      action(box, QStringLiteral("发送进度（5000）"), [status] { simulateSend(status); }));
#ifdef HV_GALLERY_SERVICE
  col->addWidget(action(box, QStringLiteral("登录服务（真实）"), [status] { signIn(status); }));
  col->addWidget(
      action(box, QStringLiteral("发送到服务（真实）"), [status] { sendForReal(status); }));
#endif
  col->addWidget(action(box, QStringLiteral("CDialogHeader"), [home] { showHeaderDialog(home); }));
  col->addWidget(action(box, QStringLiteral("停止图标"), [] {
    ui::messageBox(T("对不起，用户登录失败！"), T("用户登录"), ui::Icon::Stop);
  }));
  col->addWidget(action(box, QStringLiteral("信息图标"), [] {
    ui::messageBox(T("请首先输入密码！"), T("用户登录"), ui::Icon::Information);
  }));
  col->addWidget(action(box, QStringLiteral("问题图标（是/否）"), [status] {
    const auto a = ui::messageBox(T("是否添加为好友？"), T("发送短信"), ui::Icon::Question,
                                  ui::Buttons::YesNo);
    status->setText(a == ui::Answer::Yes ? QStringLiteral("是") : QStringLiteral("否"));
  }));
  col->addWidget(action(box, QStringLiteral("打开文件"), [status] {
    auto f = ui::backend().openFile(T("图片文件(*.jpg;*.bmp)|*.jpg;*.bmp|所有文件(*.*)|*.*||"),
                                    T("打开"), "");
    status->setText(f ? ui::qt::toQ(*f) : QStringLiteral("已取消"));
  }));
  col->addWidget(action(box, QStringLiteral("保存副本（SaveFile）"),
                        [home] { CHandvaneHelper::SaveFile(home + T("DATA/登录.jpg")); }));
  col->addStretch(1);
  return box;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  hv::ui::qt::installSuiteUi();
  const std::string home = hv::fs::suiteHome();

  QWidget window;
  window.setWindowTitle(QStringLiteral("Handvane 控件一览"));
  auto* status = new QLabel(&window);
  auto* layout = new QVBoxLayout(&window);
  auto* row = new QHBoxLayout;
  row->addWidget(controls(&window, home, status), 1);
  row->addWidget(dialogs(&window, home, status));
  layout->addLayout(row);
  layout->addWidget(status);

  hv::MessageWindow trayReceiver([status](const hv::WindowMessage& m) {
    status->setText(QStringLiteral("托盘图标消息 0x%1，鼠标 0x%2")
                        .arg(m.message, 0, 16)
                        .arg(static_cast<qlonglong>(m.lparam), 0, 16));
  });
  CTrayIcon tray;
  if (!tray.Create(trayReceiver.id(), 0x401, "Lumoi",
                   window.style()->standardIcon(QStyle::SP_ComputerIcon), 200)) {
    status->setText(QStringLiteral("没有系统托盘：托盘图标不显示"));
  }
  window.show();
  // --screenshot <file.png>: draw the window into a picture and end (works offscreen too).
  const QStringList args = QCoreApplication::arguments();
  if (const auto i = args.indexOf(QStringLiteral("--screenshot")); i > 0 && i + 1 < args.size()) {
    QCoreApplication::processEvents();
    return window.grab().save(args.at(i + 1)) ? 0 : 1;
  }
  return app.exec();
}
