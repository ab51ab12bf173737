#include "ui/UI/history.h"

#include <QLineEdit>
#include <algorithm>

#include "platform/gbk.h"
#include "platform/profile.h"
#include "ui/qt/qtext.h"

namespace {
// Marks the list entries that came from the history.
constexpr int kHistoryRole = Qt::UserRole + 1;
}  // namespace

CACCombox::CACCombox(QWidget* parent) : QComboBox(parent) {}

void CACCombox::Init() {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setMaxVisibleItems(hv::ui::ReceiverHistory::kMaxEntries);
}

bool CACCombox::LoadHistory(std::string_view profileFile, std::string_view key) {
  const bool ok = history_.load(profileFile, key);
  relistHistory();
  return ok;
}

void CACCombox::AddCurrent() {
  const QString shownText = currentText();
  history_.add(hv::ui::qt::fromQ(shownText));
  relistHistory();
  setEditText(shownText);
  if (history_.loaded()) history_.save();
}

bool CACCombox::SaveHistory() const {
  return history_.save();
}

void CACCombox::relistHistory() {
  const QString text = currentText();
  for (int i = count() - 1; i >= 0; --i) {
    if (itemData(i, kHistoryRole).toBool()) removeItem(i);
  }
  for (const std::string& e : history_.entries()) {
    addItem(hv::ui::qt::toQ(e), -1);
    setItemData(count() - 1, true, kHistoryRole);
  }
  if (isEditable()) setEditText(text);
}

int CACCombox::GetItemData(int index) const {
  const QVariant v = itemData(index);
  return v.isValid() ? v.toInt() : -1;
}

void CACCombox::SetItemData(int index, int data) {
  setItemData(index, data);
}

std::string CACCombox::GetText() const {
  return hv::ui::qt::fromQ(currentText());
}

void CACCombox::SetText(std::string_view gbk) {
  setEditText(hv::ui::qt::toQ(gbk));
}
