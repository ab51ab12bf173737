// The signature dialog and the cc dialog, and the registration of the module's views.
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <mutex>

#include "modules/text/cc_dialog.h"
#include "modules/text/signature_dialog.h"
#include "modules/text/text_dialog.h"
#include "modules/text/views/views.h"
#include "platform/gbk.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtbackend.h"
#include "ui/qt/qtext.h"

namespace hv::textport {

namespace {

using ui::qt::toQ;

template <class W>
W* bound(ui::qt::ControllerBinding* binding, int id, W* w) {
  w->setObjectName(QStringLiteral("c%1").arg(id));
  binding->bind(id, w);
  return w;
}

QDialog* plainDialog() {
  auto* dialog = new QDialog;
  dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  return dialog;
}

// One of the cc dialog's lists: a row per friend with "姓名" and "手机号", whole rows selected.
QTreeWidget* friendList(QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setColumnCount(2);
  list->setHeaderLabels({QStringLiteral("姓名"), QStringLiteral("手机号")});
  list->header()->setSectionResizeMode(QHeaderView::Fixed);
  list->setColumnWidth(0, CcDialog::kColumnWidth);
  list->setColumnWidth(1, CcDialog::kColumnWidth);
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setMinimumSize(2 * CcDialog::kColumnWidth + 8, 220);
  return list;
}

class CcView : public QDialog {
 public:
  explicit CcView(CcDialog& controller) : controller_(controller) {
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setObjectName(QStringLiteral("CcDialog"));
    binding_ = new ui::qt::ControllerBinding(controller, this);
    auto* layout = new QHBoxLayout(this);
    lists_[CcDialog::kLeft] = bound(binding_, CcDialog::kLeft, friendList(this));
    layout->addWidget(lists_[CcDialog::kLeft]);
    auto* middle = new QVBoxLayout;
    middle->addStretch(1);
    for (int id : {CcDialog::kAdd, CcDialog::kRemove}) {
      middle->addWidget(bound(binding_, id, new QPushButton(this)));
    }
    middle->addSpacing(24);
    for (int id : {CcDialog::kOk, CcDialog::kCancel}) {
      middle->addWidget(bound(binding_, id, new QPushButton(this)));
    }
    middle->addStretch(1);
    layout->addLayout(middle);
    lists_[CcDialog::kRight] = bound(binding_, CcDialog::kRight, friendList(this));
    layout->addWidget(lists_[CcDialog::kRight]);
    for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
    for (auto [id, list] : lists_) {
      QObject::connect(list, &QTreeWidget::itemSelectionChanged, this,
                       [this, id = id] { reportSelection(id); });
      QObject::connect(list, &QTreeWidget::itemDoubleClicked, this, [this, id = id] {
        reportSelection(id);
        controller_.onCommand(id);
      });
    }
    binding_->afterRefresh = [this](int id) {
      if (lists_.count(id)) showRows(id);
    };
  }

 private:
  void reportSelection(int id) {
    if (filling_) return;
    std::set<int> rows;
    for (const QModelIndex& i : lists_[id]->selectionModel()->selectedRows()) rows.insert(i.row());
    controller_.select(id, rows);
  }
  void showRows(int id) {
    const auto& rows = id == CcDialog::kLeft ? controller_.left() : controller_.right();
    QTreeWidget* list = lists_[id];
    filling_ = true;
    list->clear();
    for (const CcDialog::Row& r : rows) {
      list->addTopLevelItem(new QTreeWidgetItem({toQ(r.name), toQ(r.number)}));
    }
    filling_ = false;
  }

  CcDialog& controller_;
  ui::qt::ControllerBinding* binding_;
  std::map<int, QTreeWidget*> lists_;
  bool filling_ = false;
};

}  // namespace

QWidget* createSignatureView(ui::DialogController& controller) {
  QDialog* dialog = plainDialog();
  dialog->setObjectName(QStringLiteral("SignatureDialog"));
  auto* binding = new ui::qt::ControllerBinding(controller, dialog);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(bound(binding, SignatureDialog::kPrompt, new QLabel(dialog)));
  auto* edit = bound(binding, SignatureDialog::kEdit, new QLineEdit(dialog));
  edit->setMinimumWidth(220);
  layout->addWidget(edit);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (int id : {SignatureDialog::kOk, SignatureDialog::kCancel}) {
    auto* b = bound(binding, id, new QPushButton(dialog));
    b->setAutoDefault(id == SignatureDialog::kOk);
    b->setDefault(id == SignatureDialog::kOk);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  return dialog;
}

QWidget* createCcView(ui::DialogController& controller) {
  auto* dialog = dynamic_cast<CcDialog*>(&controller);
  return dialog ? new CcView(*dialog) : nullptr;
}

void registerViews() {
  static std::once_flag once;
  std::call_once(once, [] {
    ui::qt::registerView(TextDialog::kTemplate, createTextView);
    ui::qt::registerView(SignatureDialog::kTemplate, createSignatureView);
    ui::qt::registerView(CcDialog::kTemplate, createCcView);
  });
}

}  // namespace hv::textport
