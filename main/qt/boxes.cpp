#include "main/qt/boxes.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "main/launcher.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/UI/image.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtbackend.h"

namespace hv::launcher {

QWidget* createInfoBoxView(ui::DialogController& controller) {
  auto* dialog = new QDialog;
  dialog->setObjectName(controller.templateId() == kAboutTemplate ? QStringLiteral("AboutBox")
                                                                  : QStringLiteral("ContactBox"));
  dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  auto* binding = new ui::qt::ControllerBinding(controller, dialog);
  auto* layout = new QVBoxLayout(dialog);
  auto* picture = new QLabel(dialog);
  picture->setObjectName(QStringLiteral("picture"));
  // A missing picture leaves its place empty.
  if (auto path = fs::resolveNoCase(fs::suiteHome() + T("DATA/登录.jpg"))) {
    picture->setPixmap(LoadImage(nullptr, *path));
  }
  layout->addWidget(picture, 0, Qt::AlignHCenter);
  auto* text = new QLabel(dialog);
  text->setObjectName(QStringLiteral("text"));
  text->setAlignment(Qt::AlignCenter);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(text);
  binding->bind(InfoBox::kText, text);
  auto* ok = new QPushButton(dialog);
  ok->setDefault(true);
  layout->addWidget(ok, 0, Qt::AlignHCenter);
  binding->bind(InfoBox::kOk, ok);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  return dialog;
}

void registerBoxViews() {
  ui::qt::registerView(kAboutTemplate, createInfoBoxView);
  ui::qt::registerView(kContactTemplate, createInfoBoxView);
}

}  // namespace hv::launcher
