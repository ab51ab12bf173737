#include "friends/friends_view.h"

#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValidator>
#include <QWindow>
#include <map>

#include "friends/friends_dialog.h"
#include "platform/gbk.h"
#include "ui/UI/header.h"
#include "ui/UI/history.h"
#include "ui/UI/widgets.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtbackend.h"
#include "ui/qt/qtext.h"

namespace hv::friends {

namespace {

using ui::qt::ControllerBinding;
using ui::qt::fromQ;
using ui::qt::toQ;

constexpr int kWidth = 505;  // the header picture's width

// Accepts text whose GBK form fits the box's byte limit, so that nothing typed is cut later.
class GbkLimitValidator : public QValidator {
 public:
  GbkLimitValidator(size_t limit, QObject* parent) : QValidator(parent), limit_(limit) {}
  State validate(QString& input, int&) const override {
    return fromQ(input).size() <= limit_ ? Acceptable : Invalid;
  }

 private:
  size_t limit_;
};

class FriendsView : public QDialog {
 public:
  explicit FriendsView(ui::DialogController& controller)
      : controller_(controller), dialog_(dynamic_cast<FriendsDialog*>(&controller)) {
    setObjectName(QStringLiteral("FriendsDialog"));
    binding_ = new ControllerBinding(controller, this);
    buildBody();
    buildHeader();
    binding_->afterRefresh = [this](int id) { refreshed(id); };
    // Installed after the binding's, so this filter sees Enter and Escape first.
    installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == this && event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Escape) {
        controller_.onCommand(ui::kIdCancel);
        return true;
      }
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (auto* b = qobject_cast<QAbstractButton*>(focusWidget()); b && b->isEnabled()) {
          b->click();
        } else {
          controller_.onCommand(ui::kIdOk);
        }
        return true;
      }
    }
    return QDialog::eventFilter(watched, event);
  }

  // The background drags the dialog.
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return QDialog::mousePressEvent(event);
    dragging_ = !(windowHandle() && windowHandle()->startSystemMove());
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (dragging_ && (event->buttons() & Qt::LeftButton))
      move(event->globalPosition().toPoint() - dragOffset_);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    dragging_ = false;
    QDialog::mouseReleaseEvent(event);
  }

 private:
  template <class W>
  W* add(int id, W* w) {
    w->setObjectName(QStringLiteral("c%1").arg(id));
    binding_->bind(id, w);
    return w;
  }

  QPushButton* button(int id, const char16_t* text) {
    auto* b = add(id, new QPushButton(QString::fromUtf16(text), body_));
    b->setAutoDefault(false);
    return b;
  }

  void buildList(QGridLayout* grid) {
    list_ = add(FriendsDialog::kList, new QTreeWidget(body_));
    QStringList captions;
    const auto columns = FriendsDialog::columns();
    for (const auto& c : columns) captions << toQ(c.caption);
    list_->setHeaderLabels(captions);
    int width = 0;
    for (int i = 0; i < int(columns.size()); ++i) {
      list_->setColumnWidth(i, columns[size_t(i)].width);
      width += columns[size_t(i)].width;
    }
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->header()->setStretchLastSection(true);
    list_->setFixedWidth(width + 24);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { userSelectedRow(); });
    grid->addWidget(list_, 0, 0, 12, 1);
  }

  QLineEdit* edit(const FriendsDialog::Field& f) {
    QLineEdit* e;
    if (f.id == FriendsDialog::kAge) {
      auto* digits = new CNumEdit(body_);
      digits->SetLimitText(3);
      e = digits;
    } else {
      e = new QLineEdit(body_);
      if (f.limit > 0) e->setValidator(new GbkLimitValidator(f.limit, e));
    }
    return add(f.id, e);
  }

  // The model list is bound through a frame that carries its enabled state; its items, selection
  // and the user's pick are handled here, so that a pick is reported as one selection change.
  QWidget* buildModelList() {
    auto* frame = new QWidget(body_);
    frame->setObjectName(QStringLiteral("modelFrame"));
    auto* layout = new QHBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    models_ = new QComboBox(frame);
    models_->setObjectName(QStringLiteral("c%1").arg(FriendsDialog::kModel));
    models_->setMaxVisibleItems(20);
    layout->addWidget(models_);
    binding_->bind(FriendsDialog::kModel, frame);
    connect(models_, &QComboBox::activated, this, [this](int index) {
      if (syncing_ || !binding_->started()) return;
      controller_.setSelection(FriendsDialog::kModel, index);
      controller_.onChange(FriendsDialog::kModel);
    });
    return frame;
  }

  void showModels() {
    syncing_ = true;
    const QStringList items = [&] {
      QStringList out;
      for (const auto& i : controller_.items(FriendsDialog::kModel)) out << toQ(i);
      return out;
    }();
    QStringList shown;
    for (int i = 0; i < models_->count(); ++i) shown << models_->itemText(i);
    if (shown != items) {
      models_->clear();
      models_->addItems(items);
    }
    const int selected = controller_.selection(FriendsDialog::kModel);
    models_->setCurrentIndex(selected < models_->count() ? selected : -1);
    syncing_ = false;
  }

  void buildForm(QGridLayout* grid) {
    int row = 0;
    for (const auto& f : FriendsDialog::fields()) {
      auto* label = new QLabel(toQ(f.caption), body_);
      grid->addWidget(label, row, 1, Qt::AlignRight);
      QWidget* w;
      if (f.id == FriendsDialog::kPhone) {
        auto* phone = new CACCombox(body_);
        phone->Init();
        phone->lineEdit()->setMaxLength(int(f.limit));
        w = add(f.id, phone);
      } else if (f.id == FriendsDialog::kModel) {
        w = buildModelList();
      } else {
        w = edit(f);
      }
      label->setBuddy(w);
      grid->addWidget(w, row, 2);
      ++row;
    }
  }

  void buildBody() {
    body_ = new QWidget(this);
    body_->setObjectName(QStringLiteral("body"));
    auto* top = new QVBoxLayout(body_);
    top->setContentsMargins(10, 8, 10, 10);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    buildList(grid);
    buildForm(grid);
    grid->setColumnStretch(2, 1);
    top->addLayout(grid);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(button(FriendsDialog::kAdd, u"增加"));
    buttons->addWidget(button(FriendsDialog::kDelete, u"删除"));
    buttons->addWidget(button(FriendsDialog::kModify, u"修改"));
    buttons->addStretch(1);
    buttons->addWidget(button(FriendsDialog::kSave, u"保存"));
    buttons->addWidget(button(FriendsDialog::kCancel, u"取消"));
    buttons->addStretch(1);
    buttons->addWidget(button(FriendsDialog::kExit, u"退出"));
    top->addLayout(buttons);
    body_->setFixedWidth(kWidth);
    body_->adjustSize();
    resize(kWidth, body_->height());
  }

  void buildHeader() {
    header_ = new CDialogHeader;
    header_->setObjectName(QStringLiteral("header"));
    if (auto path = FriendsDialog::headerPicture()) header_->SetBackgroudBmp(*path);
    header_->Init(this);
    header_->SetCloseButton(QRect(483, 10, 14, 18));
    header_->SetMinButton(QRect(460, 10, 14, 18));
    header_->MoveCtrls(this);
    setFixedSize(size());
  }

  // The list shows the controller's rows: "<name>\t<number>" each, and its selection.
  void showRows() {
    syncing_ = true;
    const auto rows = controller_.items(FriendsDialog::kList);
    const int selected = controller_.selection(FriendsDialog::kList);
    bool same = list_->topLevelItemCount() == int(rows.size());
    for (int i = 0; same && i < int(rows.size()); ++i) {
      same = rowText(list_->topLevelItem(i)) == toQ(rows[size_t(i)]);
    }
    if (!same) {
      list_->clear();
      for (const auto& r : rows) {
        const QString text = toQ(r);
        list_->addTopLevelItem(
            new QTreeWidgetItem(QStringList{text.section(u'\t', 0, 0), text.section(u'\t', 1)}));
      }
    }
    QTreeWidgetItem* item = selected >= 0 && selected < list_->topLevelItemCount()
                                ? list_->topLevelItem(selected)
                                : nullptr;
    if (list_->currentItem() != item) list_->setCurrentItem(item);
    if (!item) list_->clearSelection();
    syncing_ = false;
  }

  static QString rowText(const QTreeWidgetItem* item) {
    return item->text(0) + u'\t' + item->text(1);
  }

  void userSelectedRow() {
    if (syncing_ || !binding_->started()) return;
    const int row = list_->indexOfTopLevelItem(list_->currentItem());
    controller_.setSelection(FriendsDialog::kList, row);
    controller_.onChange(FriendsDialog::kList);
  }

  void refreshed(int id) {
    if (id == FriendsDialog::kList) showRows();
    if (id == FriendsDialog::kModel) showModels();
    // The focus follows the mode: the list in view mode, the phone number while editing.
    const int focus = dialog_ ? dialog_->focusControl() : 0;
    if (focus != 0 && focus != focused_) {
      if (QWidget* w = binding_->widget(focus); w && w->isEnabled()) {
        focused_ = focus;
        w->setFocus();
      }
    }
  }

  ui::DialogController& controller_;
  FriendsDialog* dialog_;
  ControllerBinding* binding_ = nullptr;
  QWidget* body_ = nullptr;
  CDialogHeader* header_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QComboBox* models_ = nullptr;
  bool syncing_ = false;
  int focused_ = 0;
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace

QWidget* createFriendsView(ui::DialogController& controller) {
  return new FriendsView(controller);
}

void registerFriendsView() {
  ui::qt::registerView(FriendsDialog::kTemplate, createFriendsView);
}

}  // namespace hv::friends
