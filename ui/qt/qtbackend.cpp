#include "ui/qt/qtbackend.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>
#include <QTranslator>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <mutex>

#include "platform/messages.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtext.h"

namespace hv::ui::qt {

namespace {

std::mutex registryMutex;
std::map<int, ViewFactory>& factories() {
  static auto* f = new std::map<int, ViewFactory>;
  return *f;
}

// The executor of the GUI thread: tasks become queued calls on the application object, so they
// run from whatever event loop is turning (the main loop or a nested modal one).
class GuiExecutor : public Executor {
 public:
  void post(std::function<void()> task) override {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;  // the program is shutting down; like posting to a closed window
    QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
  }
  void processPending() override {
    if (onGuiThread()) QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
};

// A plain form for a dialog without a registered view: one row per control the controller set up,
// and OK / Cancel.
QWidget* generatedView(DialogController& controller) {
  auto* dialog = new QDialog;
  auto* binding = new ControllerBinding(controller, dialog);
  auto* layout = new QVBoxLayout(dialog);
  auto* form = new QFormLayout;
  layout->addLayout(form);
  for (int id : controller.controlIds()) {
    if (id == kIdOk || id == kIdCancel) continue;
    const Control c = controller.control(id);
    QWidget* w;
    if (!c.items.empty()) {
      auto* combo = new QComboBox(dialog);
      combo->setEditable(true);
      w = combo;
    } else {
      w = new QLineEdit(dialog);
    }
    form->addRow(QString::number(id), w);
    binding->bind(id, w);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  layout->addWidget(buttons);
  for (auto [id, role] :
       {std::pair{kIdOk, QDialogButtonBox::Ok}, std::pair{kIdCancel, QDialogButtonBox::Cancel}}) {
    QPushButton* b = buttons->button(role);
    binding->bind(id, b);
    // After the controller heard of the press: a controller that does not handle the standard
    // buttons gets the standard meaning.
    QObject::connect(b, &QPushButton::clicked, dialog, [&controller, id = id] {
      if (!controller.ended()) controller.endDialog(id);
    });
  }
  return dialog;
}

QMessageBox::Icon qtIcon(Icon icon) {
  switch (icon) {
    case Icon::Stop:
      return QMessageBox::Critical;
    case Icon::Information:
      return QMessageBox::Information;
    case Icon::Question:
      return QMessageBox::Question;
    case Icon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

Answer boxHere(std::string_view text, std::string_view caption, Icon icon, Buttons buttons) {
  QMessageBox box(qtIcon(icon), toQ(caption), toQ(text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  switch (buttons) {
    case Buttons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Ok);
      break;
    case Buttons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case Buttons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      break;
  }
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  // A box closed without a button (Escape, the frame) answers as its escape button.
  const QMessageBox::StandardButton pressed =
      box.clickedButton() ? box.standardButton(box.clickedButton()) : QMessageBox::NoButton;
  switch (pressed) {
    case QMessageBox::Ok:
      return Answer::Ok;
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    case QMessageBox::Cancel:
      return Answer::Cancel;
    default:
      break;
  }
  switch (buttons) {
    case Buttons::Ok:
      return Answer::Ok;
    case Buttons::OkCancel:
      return Answer::Cancel;
    case Buttons::YesNo:
      break;
  }
  return Answer::No;
}

int runModalHere(DialogController& controller) {
  QPointer<QWidget> view = createView(controller);
  ControllerBinding* binding = bindingOf(view);
  if (!binding) {
    delete view;
    if (!controller.ended()) controller.endDialog(kIdCancel);
    return controller.result();
  }
  view->setAttribute(Qt::WA_DeleteOnClose, false);
  view->setWindowModality(Qt::ApplicationModal);
  QEventLoop loop;
  QObject::connect(binding, &ControllerBinding::dialogEnded, &loop, &QEventLoop::quit);
  QObject::connect(view, &QObject::destroyed, &loop, &QEventLoop::quit);
  binding->start();
  if (!controller.ended()) {
    view->show();
    view->raise();
    view->activateWindow();
    loop.exec(QEventLoop::DialogExec);
  }
  if (view) {
    view->hide();
    delete view;
  }
  if (!controller.ended()) controller.endDialog(kIdCancel);
  return controller.result();
}

void showModelessHere(const std::shared_ptr<DialogController>& controller, bool runInit) {
  QWidget* view = createView(*controller);
  ControllerBinding* binding = bindingOf(view);
  if (!binding) {
    delete view;
    return;
  }
  binding->keepAlive(controller);
  QObject::connect(binding, &ControllerBinding::dialogEnded, view, [view] {
    view->hide();
    view->deleteLater();
  });
  binding->start(runInit);
  if (!controller->ended()) {
    view->show();
    view->raise();
  }
}

// "图片文件(*.jpg;*.bmp)" -> "图片文件": the patterns are written again in Qt's own form.
QString descriptionWithoutPatterns(const QString& description) {
  static const QRegularExpression trailing(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
  QString d = description;
  d.remove(trailing);
  return d.isEmpty() ? description : d;
}

}  // namespace

bool onGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void runOnGui(const std::function<void()>& f) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || onGuiThread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
}

void registerView(int templateId, ViewFactory factory) {
  std::lock_guard lock(registryMutex);
  factories()[templateId] = std::move(factory);
}

bool hasView(int templateId) {
  std::lock_guard lock(registryMutex);
  return factories().count(templateId) != 0;
}

QWidget* createView(DialogController& controller) {
  ViewFactory factory;
  {
    std::lock_guard lock(registryMutex);
    auto it = factories().find(controller.templateId());
    if (it != factories().end()) factory = it->second;
  }
  return factory ? factory(controller) : generatedView(controller);
}

QStringList nameFilters(std::string_view filter) {
  QStringList out;
  for (const FileFilter& f : parseFilter(filter)) {
    QStringList globs;
    for (const std::string& p : f.patterns) {
      globs << (p == "*.*" ? QStringLiteral("*") : toQ(p));
    }
    if (globs.isEmpty()) globs << QStringLiteral("*");
    out << descriptionWithoutPatterns(toQ(f.description)) + QStringLiteral(" (") +
               globs.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return out;
}

Answer QtBackend::messageBox(std::string_view text, std::string_view caption, Icon icon,
                             Buttons buttons) {
  Answer a = buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
  runOnGui([&] { a = boxHere(text, caption, icon, buttons); });
  return a;
}

namespace {
std::optional<std::string> fileDialog(QFileDialog::AcceptMode mode, std::string_view filter,
                                      std::string_view title, std::string_view start) {
  std::optional<std::string> chosen;
  runOnGui([&] {
    QFileDialog dialog(QApplication::activeWindow(), toQ(title), toQPath(start));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    const QStringList filters = nameFilters(filter);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    if (mode == QFileDialog::AcceptSave && !start.empty()) dialog.selectFile(toQPath(start));
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    // A name without a GBK form cannot be carried by the suite: treated as no choice.
    chosen = fromQPath(dialog.selectedFiles().first());
  });
  return chosen;
}
}  // namespace

std::optional<std::string> QtBackend::openFile(std::string_view filter, std::string_view title,
                                               std::string_view initialDirectory) {
  return fileDialog(QFileDialog::AcceptOpen, filter, title, initialDirectory);
}

std::optional<std::string> QtBackend::saveFile(std::string_view filter, std::string_view title,
                                               std::string_view suggestedName) {
  return fileDialog(QFileDialog::AcceptSave, filter, title, suggestedName);
}

int QtBackend::runModal(DialogController& dialog) {
  int result = kIdCancel;
  runOnGui([&] { result = runModalHere(dialog); });
  return result;
}

void QtBackend::showModeless(std::shared_ptr<DialogController> dialog) {
  if (onGuiThread()) {
    showModelessHere(dialog, true);
    return;
  }
  // From a worker (a send thread): the dialog is initialised here and now, so that what the
  // worker sets next is never overwritten by a late onInit, and shown when the GUI thread gets
  // to it; the worker does not wait for that.
  dialog->onInit();
  schedule([dialog] { showModelessHere(dialog, false); });
}

void QtBackend::close(DialogController& dialog) {
  // The view follows the controller: ending it closes the window on the GUI thread.
  if (!dialog.ended()) dialog.endDialog(kIdCancel);
}

void QtBackend::schedule(std::function<void()> task) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
}

bool install() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app || !onGuiThread()) return false;
  static QTranslator* translator = nullptr;
  bool translated = translator != nullptr;
  if (!translator) {
    auto* t = new QTranslator(app);
    if (t->load(QStringLiteral("qtbase_zh_CN"),
                QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      app->installTranslator(t);
      translator = t;
      translated = true;
    } else {
      delete t;
    }
  }
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  // The first of these that is installed draws the texts; naming them is enough; asking the
  // font database which exist would make it read every font of the system before the first
  // window is painted.
  QFont f = app->font();
  f.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                 QStringLiteral("AR PL UMing CN"), f.family()});
  app->setFont(f);
  setThreadExecutor(std::make_shared<GuiExecutor>());
  setBackend(std::make_shared<QtBackend>());
  return translated;
}

}  // namespace hv::ui::qt
