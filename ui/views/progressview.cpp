#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/qt/binding.h"
#include "ui/views/views.h"

namespace hv::ui::qt {

namespace {
constexpr int kStatus = 5000;
constexpr int kProgress = 5001;
constexpr int kCancel = 5002;
constexpr int kStaticLabel = 0xFFFF;
}  // namespace

QWidget* createProgressView(DialogController& controller) {
  auto* dialog = new QDialog;
  dialog->setObjectName(QStringLiteral("SendProgressDialog"));
  dialog->setWindowFlag(Qt::WindowStaysOnTopHint, true);
  dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  auto* binding = new ControllerBinding(controller, dialog);

  auto* layout = new QVBoxLayout(dialog);
  auto* row = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("当前状态："), dialog);
  auto* status = new QLabel(dialog);
  status->setMinimumWidth(240);
  row->addWidget(label);
  row->addWidget(status, 1);
  layout->addLayout(row);
  auto* bar = new QProgressBar(dialog);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  layout->addWidget(bar);
  auto* cancel = new QPushButton(QStringLiteral("取消发送"), dialog);
  cancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  const std::pair<int, QWidget*> controls[] = {
      {kStaticLabel, label}, {kStatus, status}, {kProgress, bar}, {kCancel, cancel}};
  for (auto [id, w] : controls) {
    w->setObjectName(QStringLiteral("c%1").arg(id));
    binding->bind(id, w);
  }
  return dialog;
}

}  // namespace hv::ui::qt
