#include "updater/qt/progressview.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/qt/binding.h"
#include "ui/qt/qtbackend.h"
#include "ui/qt/qtext.h"
#include "updater/patchrun.h"

namespace hv::patchrun {

QWidget* createProgressView(ui::DialogController& controller) {
  auto* dialog = new QDialog;
  dialog->setObjectName(QStringLiteral("PatchrunProgress"));
  dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  auto* binding = new ui::qt::ControllerBinding(controller, dialog);

  auto* layout = new QVBoxLayout(dialog);
  auto* text = new QLabel(dialog);
  auto* bar = new QProgressBar(dialog);
  bar->setTextVisible(false);
  bar->setMinimumWidth(300);
  auto* counter = new QLabel(dialog);
  counter->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* status = new QLabel(dialog);
  layout->addWidget(text);
  layout->addWidget(bar);
  layout->addWidget(counter);
  layout->addWidget(status);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  const std::pair<int, QWidget*> controls[] = {
      {kTextId, text}, {kProgressId, bar}, {kCounterId, counter}, {kStatusId, status}};
  for (auto [id, w] : controls) {
    w->setObjectName(QStringLiteral("c%1").arg(id));
    binding->bind(id, w);
  }

  // The window menu's about item: a frameless platform may show no window menu, so it is also
  // the dialog's context menu.
  const std::string aboutText = ProgressDialog::aboutItemText();
  if (!aboutText.empty()) {
    auto* separator = new QAction(dialog);
    separator->setSeparator(true);
    auto* about = new QAction(
        ui::qt::toQ(aboutText).replace(QStringLiteral("&A"), QStringLiteral("&A")), dialog);
    about->setObjectName(QStringLiteral("about"));
    QObject::connect(about, &QAction::triggered, dialog,
                     [&controller] { controller.onCommand(kAboutCommand); });
    dialog->addAction(separator);
    dialog->addAction(about);
    dialog->setContextMenuPolicy(Qt::ActionsContextMenu);
  }

  if (auto* progress = dynamic_cast<ProgressDialog*>(&controller)) {
    auto* timer = new QTimer(dialog);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, dialog, [timer, progress] {
      timer->stop();
      progress->onTimer();
    });
    timer->start();
  }
  return dialog;
}

void registerProgressView() {
  ui::qt::registerView(kProgressTemplate, createProgressView);
}

}  // namespace hv::patchrun
