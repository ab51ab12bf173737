#include "ui/UI/phonetree.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QStylePainter>
#include <QTreeView>
#include <algorithm>

#include "platform/gbk.h"
#include "platform/profile.h"
#include "ui/qt/qtext.h"

namespace hv::ui {

namespace {
bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

bool PhoneCompanies::load(std::string_view path) {
  makers_.clear();
  const Profile p = Profile::load(path);
  std::vector<std::string> names;
  if (!p.keys("COMPANY").empty()) {
    for (const std::string& key : p.keys("COMPANY")) {
      if (auto v = p.get("COMPANY", key); v && !v->empty() && !equalsNoCase(key, "COUNT")) {
        names.push_back(*v);
      }
    }
  } else {
    names = p.sections();
  }
  for (const std::string& name : names) {
    if (name.empty() || !gbkToUtf8(name)) continue;
    if (std::any_of(makers_.begin(), makers_.end(), [&](const Maker& m) { return m.name == name; }))
      continue;
    Maker m{name, {}};
    for (const std::string& key : p.keys(name)) {
      if (equalsNoCase(key, "COUNT")) continue;
      if (auto v = p.get(name, key); v && !v->empty()) m.models.push_back(*v);
    }
    makers_.push_back(std::move(m));
  }
  return !makers_.empty();
}

std::string PhoneCompanies::makerOf(std::string_view modelName) const {
  for (const Maker& m : makers_) {
    if (std::find(m.models.begin(), m.models.end(), modelName) != m.models.end()) return m.name;
  }
  for (const Maker& m : makers_) {
    if (modelName.substr(0, m.name.size()) == m.name) return m.name;
  }
  return T("其他");
}

}  // namespace hv::ui

namespace {
constexpr int kEntryRole = Qt::UserRole + 1;  // index into entries_, on model items only
}

CPhoneTypeTree::CPhoneTypeTree(QWidget* parent)
    : QComboBox(parent), model_(new QStandardItemModel(this)), tree_(new QTreeView) {
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(true);
  tree_->setItemsExpandable(true);
  setModel(model_);
  setView(tree_);  // the combo box owns the view from here
  tree_->viewport()->installEventFilter(this);
  tree_->installEventFilter(this);
}

QStandardItem* CPhoneTypeTree::makerItem(const std::string& maker) {
  const QString name = hv::ui::qt::toQ(maker);
  for (int i = 0; i < model_->rowCount(); ++i) {
    if (model_->item(i)->text() == name) return model_->item(i);
  }
  auto* item = new QStandardItem(name);
  item->setFlags(Qt::ItemIsEnabled);
  model_->appendRow(item);
  return item;
}

bool CPhoneTypeTree::LoadPhoneCompany(std::string_view path) {
  const bool ok = companies_.load(path);
  for (const auto& m : companies_.makers()) makerItem(m.name);
  return ok;
}

int CPhoneTypeTree::AddString(std::string_view modelName) {
  auto* item = new QStandardItem(hv::ui::qt::toQ(modelName));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  const int handle = static_cast<int>(entries_.size());
  item->setData(handle, kEntryRole);
  makerItem(companies_.makerOf(modelName))->appendRow(item);
  entries_.push_back(Entry{item, -1});
  return handle;
}

void CPhoneTypeTree::Sort() {
  for (int i = 0; i < model_->rowCount(); ++i) model_->item(i)->sortChildren(0);
}

bool CPhoneTypeTree::SubclassDlgItem(QWidget* placeholder) {
  if (!placeholder || !placeholder->parentWidget()) return false;
  QWidget* parent = placeholder->parentWidget();
  setParent(parent);
  setObjectName(placeholder->objectName());
  setGeometry(placeholder->geometry());
  if (parent->layout()) {
    delete parent->layout()->replaceWidget(placeholder, this);
  }
  setVisible(!placeholder->isHidden());
  placeholder->deleteLater();
  return true;
}

bool CPhoneTypeTree::SubclassDlgItem(int id, QWidget* parent) {
  if (!parent) return false;
  return SubclassDlgItem(parent->findChild<QWidget*>(QStringLiteral("c%1").arg(id)));
}

int CPhoneTypeTree::GetCurSel() const {
  return current_;
}

bool CPhoneTypeTree::SetCurSel(int item) {
  if (item < -1 || item >= GetCount()) return false;
  current_ = item;
  update();
  return true;
}

bool CPhoneTypeTree::SelectString(std::string_view modelName) {
  const QString name = hv::ui::qt::toQ(modelName);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].item->text() == name) return SetCurSel(static_cast<int>(i));
  }
  return false;
}

std::string CPhoneTypeTree::GetItemText(int item) const {
  if (item < 0 || item >= GetCount()) return {};
  return hv::ui::qt::fromQ(entries_[item].item->text());
}

int CPhoneTypeTree::GetItemData(int item) const {
  if (item < 0 || item >= GetCount()) return -1;
  return entries_[item].data;
}

void CPhoneTypeTree::SetItemData(int item, int data) {
  if (item >= 0 && item < GetCount()) entries_[item].data = data;
}

int CPhoneTypeTree::GetCount() const {
  return static_cast<int>(entries_.size());
}

void CPhoneTypeTree::ResetContent() {
  entries_.clear();
  current_ = -1;
  model_->clear();
  for (const auto& m : companies_.makers()) makerItem(m.name);
  update();
}

void CPhoneTypeTree::showPopup() {
  // Makers without models stay out of the way.
  for (int i = 0; i < model_->rowCount(); ++i) {
    tree_->setRowHidden(i, QModelIndex(), model_->item(i)->rowCount() == 0);
  }
  if (current_ >= 0) {
    const QModelIndex idx = entries_[current_].item->index();
    tree_->expand(idx.parent());
    tree_->setCurrentIndex(idx);
  }
  QComboBox::showPopup();
}

void CPhoneTypeTree::pick(const QModelIndex& index) {
  const QVariant entry = index.data(kEntryRole);
  if (!entry.isValid()) {
    tree_->setExpanded(index, !tree_->isExpanded(index));
    return;
  }
  current_ = entry.toInt();
  hidePopup();
  update();
  Q_EMIT modelSelected(current_);
}

bool CPhoneTypeTree::eventFilter(QObject* watched, QEvent* event) {
  // The combo box would take a model's row as a top-level row; picks are handled here instead.
  if (watched == tree_->viewport() && event->type() == QEvent::MouseButtonRelease) {
    const QModelIndex idx = tree_->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    if (idx.isValid()) pick(idx);
    return true;
  }
  if (watched == tree_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (tree_->currentIndex().isValid()) pick(tree_->currentIndex());
      return true;
    }
  }
  return QComboBox::eventFilter(watched, event);
}

void CPhoneTypeTree::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionComboBox opt;
  initStyleOption(&opt);
  opt.currentText = current_ >= 0 ? entries_[current_].item->text() : QString();
  opt.currentIcon = QIcon();
  painter.drawComplexControl(QStyle::CC_ComboBox, opt);
  painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
}
